#include "base/utils/sys_info.h"

#include <unistd.h>

#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"

namespace base::utils {
namespace {

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

TEST(SysInfoTest, MachineDescription) {
  const std::string version = GetSystemVersion();
  EXPECT_TRUE(std::regex_match(version, std::regex(R"(\d+\.\d+\.\d+)")) ||
              version == kUnknownSystemVersion)
      << version;

  EXPECT_EQ(GetSystemManufacturer().find('\n'), std::string::npos);
  EXPECT_EQ(GetProductName().find('\n'), std::string::npos);

  char host_name[256] = {};
  ASSERT_EQ(gethostname(host_name, sizeof(host_name) - 1), 0);
  EXPECT_EQ(GetComputerName(), host_name);
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
