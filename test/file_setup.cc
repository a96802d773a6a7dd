#include "test/file_setup.h"

#if defined(_WIN32)
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/utils/file_util.h"
#include "gtest/gtest.h"

namespace test {

#if defined(_WIN32)

namespace {

FILETIME ToFileTime(int64_t seconds, int64_t nanoseconds) {
  const uint64_t value = base::utils::kFileTimeEpochToUnixEpoch +
                         static_cast<uint64_t>(seconds) * 10'000'000 +
                         static_cast<uint64_t>(nanoseconds) / 100;
  return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

}  // namespace

void SetFileTimes(const base::utils::Path& path,
                  int64_t access_seconds,
                  int64_t access_nanoseconds,
                  int64_t write_seconds,
                  int64_t write_nanoseconds) {
  const HANDLE file =
      CreateFileW(path.value().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path.ToUtf8();
  const FILETIME access = ToFileTime(access_seconds, access_nanoseconds);
  const FILETIME write = ToFileTime(write_seconds, write_nanoseconds);
  EXPECT_TRUE(SetFileTime(file, nullptr, &access, &write)) << path.ToUtf8();
  CloseHandle(file);
}

bool MakeSparseFile(const base::utils::Path& path,
                    int64_t size,
                    const std::string& tail) {
  const HANDLE file =
      CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "CreateFileW " << path.ToUtf8();
    return false;
  }
  // Without the flag NTFS would write out every zero before the tail.
  DWORD returned = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned,
                  nullptr);
  LARGE_INTEGER end;
  end.QuadPart = size;
  LARGE_INTEGER tail_start;
  tail_start.QuadPart = size - static_cast<int64_t>(tail.size());
  DWORD written = 0;
  const bool made =
      SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
      SetFilePointerEx(file, tail_start, nullptr, FILE_BEGIN) &&
      WriteFile(file, tail.data(), static_cast<DWORD>(tail.size()), &written,
                nullptr) &&
      written == tail.size();
  CloseHandle(file);
  return made;
}

#else

void SetFileTimes(const base::utils::Path& path,
                  int64_t access_seconds,
                  int64_t access_nanoseconds,
                  int64_t write_seconds,
                  int64_t write_nanoseconds) {
  const timespec times[2] = {{access_seconds, access_nanoseconds},
                             {write_seconds, write_nanoseconds}};
  EXPECT_EQ(utimensat(AT_FDCWD, path.ToUtf8().c_str(), times, 0), 0)
      << path.ToUtf8();
}

bool MakeSparseFile(const base::utils::Path& path,
                    int64_t size,
                    const std::string& tail) {
  const int fd = open(path.ToUtf8().c_str(), O_CREAT | O_WRONLY, 0644);
  if (fd < 0) {
    ADD_FAILURE() << "open " << path.ToUtf8();
    return false;
  }
  const bool made = ftruncate(fd, size) == 0 &&
                    pwrite(fd, tail.data(), tail.size(), size - tail.size()) ==
                        static_cast<ssize_t>(tail.size());
  close(fd);
  return made;
}

#endif

std::string ReadTextFile(const base::utils::Path& path) {
  std::string text = base::utils::ReadFileToString(path);
  for (size_t i = text.find("\r\n"); i != std::string::npos;
       i = text.find("\r\n", i)) {
    text.erase(i, 1);
  }
  return text;
}

}  // namespace test
