#include "base/utils/sys_info.h"

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

#include "base/logging/logging.h"
#include "base/utils/string_util.h"

// windows.h maps this name to GetComputerNameA or GetComputerNameW, which
// would rename this file's definition of base::utils::GetComputerName.
#undef GetComputerName

namespace base::utils {

namespace {

struct ModuleFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ScopedModule =
    std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using ScopedHKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// ntdll.dll's own prototype; the SDK declares it for drivers only.
using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);

}  // namespace

// RtlGetVersion tells the true version: GetVersionEx reports what the
// executable's compatibility manifest asks for.
std::string GetSystemVersion() {
  const ScopedModule ntdll(LoadLibraryW(L"ntdll.dll"));
  if (!ntdll) {
    TLV_LOG(logging::kError, "ntdll LoadLibrary failed");
    return std::string(kUnknownSystemVersion);
  }
  const auto rtl_get_version = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll.get(), "RtlGetVersion")));
  if (!rtl_get_version) {
    TLV_LOG(logging::kError, "GetProcAddress RtlGetVersion failed");
    return std::string(kUnknownSystemVersion);
  }
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  // Documented to succeed always.
  rtl_get_version(&version);
  return StringPrintf("%lu.%lu.%lu", version.dwMajorVersion,
                      version.dwMinorVersion, version.dwBuildNumber);
}

std::string ReadRegistryString(const wchar_t* key_path,
                               const wchar_t* value_name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &opened) !=
      ERROR_SUCCESS) {
    return std::string();
  }
  const ScopedHKey key(opened);
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), value_name, nullptr, nullptr, nullptr,
                       &size) != ERROR_SUCCESS) {
    return std::string();
  }
  // Room for size bytes, an odd last one included.
  std::wstring data((size + 1) / sizeof(wchar_t), L'\0');
  if (RegQueryValueExW(key.get(), value_name, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS) {
    return std::string();
  }
  // Whatever the value's type, its whole wide characters up to the first
  // NUL; a string stored without one ends with the data.
  data.resize(size / sizeof(wchar_t));
  return WideToUtf8(data);
}

std::string GetSystemManufacturer() {
  return ReadRegistryString(L"HARDWARE\\DESCRIPTION\\System\\BIOS",
                            L"SystemManufacturer");
}

std::string GetProductName() {
  return ReadRegistryString(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                            L"ProductName");
}

std::string GetComputerName() {
  // Without a buffer the call fails and sets size to the characters it
  // needs, the terminating NUL included.
  DWORD size = 0;
  GetComputerNameExW(ComputerNamePhysicalDnsHostname, nullptr, &size);
  if (size == 0) {
    return std::string();
  }
  std::wstring name(size, L'\0');
  if (!GetComputerNameExW(ComputerNamePhysicalDnsHostname, name.data(),
                          &size)) {
    return std::string();
  }
  // On success size counts the characters without the NUL.
  name.resize(size);
  return WideToUtf8(name);
}

}  // namespace base::utils
