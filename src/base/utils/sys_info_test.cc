#include "base/utils/sys_info.h"

#if defined(_WIN32)
// Before windows.h, which would bring the older winsock.h.
#include <winsock2.h>

#include <windows.h>
// windows.h maps the name to GetComputerNameA or GetComputerNameW.
#undef GetComputerName
#else
#include <unistd.h>
#endif

#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"

namespace base::utils {
namespace {

#if defined(_WIN32)

using namespace std::string_literals;

// Writes values into a key of its own below HKEY_LOCAL_MACHINE, where
// ReadRegistryString reads, and removes it afterwards. Only an administrator
// may write there on Windows (Wine lets anyone), so others skip.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_path_ = L"SOFTWARE\\crashreport_test_" +
                std::to_wstring(std::random_device()());
    const LONG result =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path_.c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key_, nullptr);
    if (result == ERROR_ACCESS_DENIED) {
      GTEST_SKIP() << "HKEY_LOCAL_MACHINE is not writable for this user";
    }
    ASSERT_EQ(result, ERROR_SUCCESS);
  }

  void TearDown() override {
    if (key_) {
      RegCloseKey(key_);
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, key_path_.c_str());
    }
  }

  // Stores data as it is, of the given registry type.
  void SetValue(const wchar_t* name, DWORD type, const std::string& data) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type,
                             reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
  }

  static std::string Bytes(const std::wstring& wide) {
    return std::string(reinterpret_cast<const char*>(wide.data()),
                       wide.size() * sizeof(wchar_t));
  }

  std::wstring key_path_;
  HKEY key_ = nullptr;
};

TEST_F(RegistryTest, ReadsWideTextUpToTheFirstNul) {
  struct Case {
    const wchar_t* name;
    DWORD type;
    std::string data;
    const char* text;
  };
  const std::vector<Case> cases = {
      {L"terminated", REG_SZ, Bytes(L"Acme Inc.\0"s), "Acme Inc."},
      {L"unterminated", REG_SZ, Bytes(L"Acme"), "Acme"},
      {L"utf-16", REG_SZ, Bytes(L"\u00C9t\u00E9 \U0001F600\0"s),
       "\xC3\x89t\xC3\xA9 \xF0\x9F\x98\x80"},
      {L"empty", REG_SZ, "", ""},
      {L"several strings", REG_MULTI_SZ, Bytes(L"first\0second\0\0"s), "first"},
      // The type is not examined.
      {L"number", REG_DWORD, "A\0B\0"s, "AB"},
      {L"odd length", REG_BINARY, "C\0D"s, "C"},
  };
  for (const Case& c : cases) {
    SetValue(c.name, c.type, c.data);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    EXPECT_EQ(ReadRegistryString(key_path_.c_str(), c.name), c.text);
  }
  EXPECT_EQ(ReadRegistryString(key_path_.c_str(), L"missing"), "");
  EXPECT_EQ(
      ReadRegistryString((key_path_ + L"\\missing").c_str(), L"terminated"),
      "");
}

// The host name as Windows Sockets tells it.
std::string HostName() {
  WSADATA data;
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  char name[256] = {};
  EXPECT_EQ(gethostname(name, sizeof(name) - 1), 0);
  WSACleanup();
  return name;
}

#else

std::string HostName() {
  char name[256] = {};
  EXPECT_EQ(gethostname(name, sizeof(name) - 1), 0);
  return name;
}

TEST(SysInfoTest, VersionFromKernelRelease) {
  struct Case {
    const char* release;
    const char* version;
  };
  const std::vector<Case> cases = {
      {"6.1.0-18-amd64", "6.1.0"},
      {"5.15.0-91-generic", "5.15.0"},
      {"4.19.0+", "4.19.0"},
      {"6.1.0.1", "6.1.0"},
      {"06.01.007", "6.1.7"},
      // Missing parts read as 0.
      {"5.15", "5.15.0"},
      {"6.10-rc1", "6.10.0"},
      {"6", "6.0.0"},
      {"6.", "6.0.0"},
      {"6..1", "6.0.0"},
      {"4294967295.1.2", "4294967295.1.2"},
      {"6.1.4294967296", "6.1.0"},
      // No leading number, or one that does not fit: no version.
      {"", ""},
      {"generic", ""},
      {"-6.1.0", ""},
      {" 6.1.0", ""},
      {"4294967296.1.2", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(internal::VersionFromKernelRelease(c.release), c.version)
        << '"' << c.release << '"';
  }
}

TEST(SysInfoTest, ReadDmiField) {
  struct Case {
    const char* name;
    std::optional<std::string> content;  // none: no such file
    const char* value;
  };
  const std::vector<Case> cases = {
      {"sys_vendor", "Dell Inc.\n", "Dell Inc."},
      {"product_name", "Standard PC (Q35 + ICH9, 2009)",
       "Standard PC (Q35 + ICH9, 2009)"},
      {"board_vendor", "\n", ""},
      {"board_name", "", ""},
      {"chassis_vendor", "Acme\xff\n", "Acme\xef\xbf\xbd"},
      {"product_family", std::nullopt, ""},
  };
  test::ScopedTempDir dir;
  const Path root(dir.path());
  for (const Case& c : cases) {
    if (c.content) {
      std::ofstream(root.Join(c.name).ToUtf8(), std::ios::binary) << *c.content;
    }
  }
  for (const Case& c : cases) {
    EXPECT_EQ(internal::ReadDmiField(root, c.name), c.value) << c.name;
  }
}

#endif

TEST(SysInfoTest, MachineDescription) {
  const std::string version = GetSystemVersion();
  EXPECT_TRUE(std::regex_match(version, std::regex(R"(\d+\.\d+\.\d+)")) ||
              version == kUnknownSystemVersion)
      << version;

  EXPECT_EQ(GetSystemManufacturer().find('\n'), std::string::npos);
  EXPECT_EQ(GetProductName().find('\n'), std::string::npos);

  EXPECT_EQ(GetComputerName(), HostName());
}

// The service knows the kit as a Windows product, whatever it was built on.
TEST(SysInfoTest, FixedTextsDescribeTheKitsPlatform) {
  EXPECT_EQ(GetPlatformName(), "Windows");
  EXPECT_EQ(GetCpuArchitecture(), "x86_64");
  EXPECT_EQ(GetRomName(), "Microsoft");
  EXPECT_FALSE(IsRooted());
}

}  // namespace
}  // namespace base::utils
