#include "base/utils/sys_info.h"

#include <errno.h>
#include <fmt/format.h>
#include <sys/utsname.h>

#include <charconv>
#include <cstdint>
#include <iterator>

#include "base/logging/logging.h"
#include "base/utils/file_util.h"
#include "base/utils/string_util.h"

namespace base::utils {

namespace {

constexpr char kDmiDirectory[] = "/sys/class/dmi/id";

// The kernel passes firmware bytes through unchecked, and a report with
// invalid UTF-8 in it would not serialise.
std::string ToValidUtf8(std::string_view text) {
  return WideToUtf8(Utf8ToWide(text));
}

}  // namespace

namespace internal {

std::string VersionFromKernelRelease(std::string_view release) {
  uint32_t numbers[3] = {0, 0, 0};
  const char* position = release.data();
  const char* const end = release.data() + release.size();
  for (size_t i = 0; i < std::size(numbers); ++i) {
    const auto [next, error] = std::from_chars(position, end, numbers[i]);
    if (error != std::errc()) {
      // Without a leading number there is no version at all; a later part
      // that is missing or does not fit reads as 0.
      if (i == 0) {
        return std::string();
      }
      break;
    }
    position = next;
    if (position == end || *position != '.') {
      break;
    }
    ++position;
  }
  return fmt::format("{}.{}.{}", numbers[0], numbers[1], numbers[2]);
}

std::string ReadDmiField(const Path& dir, std::string_view name) {
  std::string value = ReadFileToString(dir.Join(name));
  if (!value.empty() && value.back() == '\n') {
    value.pop_back();
  }
  return ToValidUtf8(value);
}

}  // namespace internal

std::string GetSystemVersion() {
  utsname system;
  if (uname(&system) != 0) {
    const int error = errno;
    TLV_LOG(logging::kError, "uname failed, errno {}", error);
    return std::string(kUnknownSystemVersion);
  }
  std::string version = internal::VersionFromKernelRelease(system.release);
  if (version.empty()) {
    TLV_LOG(logging::kError, "kernel release {} has no version number",
            ToValidUtf8(system.release));
    return std::string(kUnknownSystemVersion);
  }
  return version;
}

std::string GetSystemManufacturer() {
  return internal::ReadDmiField(Path(kDmiDirectory), "sys_vendor");
}

std::string GetProductName() {
  return internal::ReadDmiField(Path(kDmiDirectory), "product_name");
}

std::string GetComputerName() {
  utsname system;
  if (uname(&system) != 0) {
    return std::string();
  }
  return ToValidUtf8(system.nodename);
}

}  // namespace base::utils
