#include "base/utils/held_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/utils/string_util.h"

namespace base::utils {

namespace {

int OpenRetryingInterrupts(const std::string& name, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(name.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Whether name still names the file open as fd. Another process may remove
// the name between an open and the lock that follows it; a lock on a file
// without that name protects nothing.
bool StillNamedBy(int fd, const std::string& name) {
  struct stat opened;
  struct stat named;
  return fstat(fd, &opened) == 0 && lstat(name.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool LockWithoutWaiting(int fd) {
  return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

}  // namespace

// static
std::unique_ptr<HeldFile> HeldFile::Create(const Path& path) {
  const std::string name = WideToNative(path.value());
  // O_EXCL also refuses a link at path, whatever it points to.
  const int fd =
      OpenRetryingInterrupts(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    return nullptr;
  }
  // Until it is locked, the new file is anybody's leftover to remove.
  if (!LockWithoutWaiting(fd) || !StillNamedBy(fd, name)) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<HeldFile>(new HeldFile(path, fd));
}

HeldFile::~HeldFile() {
  // Removed while still locked: whoever locks the file later finds it
  // without its name and leaves it alone.
  unlink(WideToNative(path_.value()).c_str());
  close(handle_);
}

bool RemoveUnheldFile(const Path& path) {
  const std::string name = WideToNative(path.value());
  // O_NONBLOCK, so that a FIFO at path cannot stall the open.
  const int fd = OpenRetryingInterrupts(
      name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  struct stat status;
  // Only regular files are ever held; the lock is dropped with the close.
  const bool removed = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                       LockWithoutWaiting(fd) && StillNamedBy(fd, name) &&
                       unlink(name.c_str()) == 0;
  close(fd);
  return removed;
}

}  // namespace base::utils
