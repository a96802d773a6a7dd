#ifndef BASE_UTILS_SYS_INFO_H_
#define BASE_UTILS_SYS_INFO_H_

#include <string>
#include <string_view>

#if !defined(_WIN32)
#include "base/utils/file_path.h"
#endif

namespace base::utils {

// The description of this machine that reports carry. Every function is
// stateless, may run on any thread, and never fails outward: a value that
// cannot be read comes back as its fallback. Texts are UTF-8.

// What GetSystemVersion returns when the version cannot be read.
inline constexpr std::string_view kUnknownSystemVersion = "unknown";

// "major.minor.build" of the running system, never empty; logs an ERROR
// before it falls back to kUnknownSystemVersion.
std::string GetSystemVersion();

// The machine's manufacturer and product name; empty when unknown.
std::string GetSystemManufacturer();
std::string GetProductName();

// The computer's host name; empty when unknown.
std::string GetComputerName();

// Fixed texts of the kit's platform: "Windows", "x86_64", "Microsoft" and
// false.
std::string GetPlatformName();
std::string GetCpuArchitecture();
std::string GetRomName();
bool IsRooted();

#if defined(_WIN32)
// The value value_name of the key key_path below HKEY_LOCAL_MACHINE, read as
// wide text whatever its registry type: its characters up to the first NUL,
// or to the end of the data when it holds none. Empty when the key or the
// value cannot be read.
std::string ReadRegistryString(const wchar_t* key_path,
                               const wchar_t* value_name);
#else
namespace internal {

// "major.minor.build" from the first three dot-separated numbers of a kernel
// release such as "6.1.0-18-amd64"; missing numbers read as 0, so "5.15"
// gives "5.15.0". Empty when the release does not start with a number that
// fits 32 bits.
std::string VersionFromKernelRelease(std::string_view release);

// The DMI field name under dir (the kernel's /sys/class/dmi/id) without its
// trailing line feed, invalid UTF-8 replaced by U+FFFD; empty when the file
// cannot be read.
std::string ReadDmiField(const Path& dir, std::string_view name);

}  // namespace internal
#endif

}  // namespace base::utils

#endif  // BASE_UTILS_SYS_INFO_H_
