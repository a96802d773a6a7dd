#include "test/unzip.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "gtest/gtest.h"

extern char** environ;

namespace test {

namespace {

// Closes a descriptor when it goes away.
class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() { Reset(); }

  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0)
      close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class ScopedFileActions {
 public:
  ScopedFileActions() { posix_spawn_file_actions_init(&actions_); }
  ScopedFileActions(const ScopedFileActions&) = delete;
  ScopedFileActions& operator=(const ScopedFileActions&) = delete;
  ~ScopedFileActions() { posix_spawn_file_actions_destroy(&actions_); }

  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Runs unzip, found on PATH, with the arguments and collects its standard
// output; with_errors adds its standard error to the same stream, otherwise
// that goes where the test's own goes. A process that cannot be started or
// that does not exit normally fails the current test and yields -1.
UnzipResult Run(const std::vector<std::string>& arguments, bool with_errors) {
  static const std::string kProgram = "unzip";
  UnzipResult result;

  int pipe_fds[2];
  // Close-on-exec, so that the child keeps only the ends it is given.
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << strerror(errno);
    return result;
  }
  ScopedFd read_end(pipe_fds[0]);
  ScopedFd write_end(pipe_fds[1]);

  ScopedFileActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), write_end.get(),
                                   STDOUT_FILENO);
  if (with_errors) {
    posix_spawn_file_actions_adddup2(actions.get(), write_end.get(),
                                     STDERR_FILENO);
  }

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(kProgram.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid;
  const int error = posix_spawnp(&pid, kProgram.c_str(), actions.get(), nullptr,
                                 argv.data(), environ);
  // The parent's write end must go, or the reads below never see the end.
  write_end.Reset();
  if (error != 0) {
    ADD_FAILURE() << "posix_spawnp " << kProgram << ": " << strerror(error);
    return result;
  }

  char buffer[4096];
  for (;;) {
    const ssize_t n = read(read_end.get(), buffer, sizeof(buffer));
    if (n > 0) {
      result.output.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }

  int status;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) {
    ADD_FAILURE() << "waitpid " << kProgram << ": " << strerror(errno);
    return result;
  }
  if (!WIFEXITED(status)) {
    ADD_FAILURE() << kProgram << " did not exit normally, status " << status;
    return result;
  }
  result.status = WEXITSTATUS(status);
  return result;
}

}  // namespace

UnzipResult Unzip(const std::vector<std::string>& arguments) {
  return Run(arguments, /*with_errors=*/true);
}

std::vector<std::string> ZipEntryNames(const std::string& archive) {
  const UnzipResult result = Unzip({"-Z1", archive});
  if (result.status != 0) {
    ADD_FAILURE() << "unzip -Z1 " << archive << ": status " << result.status
                  << "\n"
                  << result.output;
    return {};
  }
  std::vector<std::string> names;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);)
    names.push_back(line);
  return names;
}

std::string ZipEntryContent(const std::string& archive,
                            const std::string& name) {
  // Standard output carries nothing but the content; unzip's complaints go
  // to the test's standard error.
  const UnzipResult result = Run({"-p", archive, name}, /*with_errors=*/false);
  if (result.status != 0) {
    ADD_FAILURE() << "unzip -p " << archive << " " << name << ": status "
                  << result.status;
  }
  return result.output;
}

}  // namespace test
