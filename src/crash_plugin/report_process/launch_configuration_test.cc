#include "crash_plugin/report_process/launch_configuration.h"

#include <functional>
#include <string>
#include <vector>

#include "base/json/base64.h"
#include "gtest/gtest.h"

namespace tlv {
namespace {

LaunchConfiguration ParseJson(const std::string& json) {
  return ParseLaunchConfiguration(base::utils::Base64Encode(json));
}

TEST(LaunchConfigurationTest, ReadsEveryMemberOfItsKind) {
  const LaunchConfiguration config = ParseJson(R"({
    "common_info": "{\"app_id\":\"42\"}",
    "custom_data": {"level": "forest", "seed": 7},
    "dmp_path": "C:\\dumps\\a.dmp",
    "work_dir": "/tmp/w",
    "use_duration_millis": "5230",
    "server_time": 1.7e12,
    "free_memory": "1024",
    "free_disk_size": "99",
    "dmp_dir_path": "/tmp/d",
    "package_log_pattern": "game.*\\.log$",
    "log_level": 2,
    "log_dest": 3,
    "start_mode": 2,
    "remain_file": true,
    "is_package_log": true,
    "ftc_switch": 1
  })");
  EXPECT_EQ(config.common_info, R"({"app_id":"42"})");
  EXPECT_EQ(config.custom_data.kind(), base::JsonKind::Object);
  EXPECT_EQ(config.custom_data.GetString("level"), "forest");
  EXPECT_EQ(config.custom_data.GetInt("seed"), 7);
  EXPECT_EQ(config.dmp_path, "C:\\dumps\\a.dmp");
  EXPECT_EQ(config.work_dir, "/tmp/w");
  EXPECT_EQ(config.use_duration_millis, "5230");
  EXPECT_EQ(config.server_time, 1'700'000'000'000);
  EXPECT_EQ(config.free_memory, "1024");
  EXPECT_EQ(config.free_disk_size, "99");
  EXPECT_EQ(config.dmp_dir_path, "/tmp/d");
  EXPECT_EQ(config.package_log_pattern, "game.*\\.log$");
  EXPECT_EQ(config.log_level, 2);
  EXPECT_EQ(config.log_dest, 3);
  EXPECT_EQ(config.start_mode, 2);
  EXPECT_TRUE(config.remain_file);
  EXPECT_TRUE(config.is_package_log);
  EXPECT_EQ(config.ftc_switch, 1);
}

// Each case is one launch argument and what must be true of its record.
struct KindCase {
  const char* name;
  std::string argument;  // already Base64, or deliberately not
  std::function<void(const LaunchConfiguration&)> check;
};

void ExpectObjectDefaults(const LaunchConfiguration& config) {
  EXPECT_EQ(config.start_mode, 1);
  EXPECT_EQ(config.log_level, 4);
  EXPECT_EQ(config.log_dest, 0);
  EXPECT_EQ(config.ftc_switch, 0);
  EXPECT_EQ(config.server_time, 0);
  EXPECT_FALSE(config.remain_file);
  EXPECT_FALSE(config.is_package_log);
  EXPECT_TRUE(config.work_dir.empty());
  EXPECT_TRUE(config.common_info.empty());
  EXPECT_EQ(config.custom_data.kind(), base::JsonKind::Object);
  EXPECT_TRUE(config.custom_data.Members().empty());
}

TEST(LaunchConfigurationTest, KindsAndDefaults) {
  using base::utils::Base64Encode;
  const std::vector<KindCase> cases = {
      {"not Base64", "not base64 at all!", ExpectObjectDefaults},
      {"empty argument", "", ExpectObjectDefaults},
      {"Base64 of text that is not JSON", Base64Encode("{oops"),
       ExpectObjectDefaults},
      {"JSON null", Base64Encode("null"), ExpectObjectDefaults},
      {"empty object", Base64Encode("{}"), ExpectObjectDefaults},
      {"array root keeps the constructed record", Base64Encode("[1,2]"),
       [](const LaunchConfiguration& c) {
         EXPECT_EQ(c.start_mode, 0);
         EXPECT_EQ(c.log_level, 4);
         EXPECT_TRUE(c.custom_data.Members().empty());
       }},
      {"string root", Base64Encode(R"("work_dir")"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.start_mode, 0); }},
      {"start_mode as a real is ignored", Base64Encode(R"({"start_mode":2.0})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.start_mode, 1); }},
      {"start_mode 3 is read as it is", Base64Encode(R"({"start_mode":3})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.start_mode, 3); }},
      {"server_time as an integer literal is ignored",
       Base64Encode(R"({"server_time":1700000000000})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.server_time, 0); }},
      {"server_time truncates toward zero",
       Base64Encode(R"({"server_time":-2.9})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.server_time, -2); }},
      {"server_time beyond 64 bits is ignored",
       Base64Encode(R"({"server_time":1e300})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.server_time, 0); }},
      {"log_level keeps the low 32 bits",
       Base64Encode(R"({"log_level":4294967298})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.log_level, 2); }},
      {"free_memory as a number is ignored",
       Base64Encode(R"({"free_memory":1024})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.free_memory, ""); }},
      {"remain_file as 1 is false", Base64Encode(R"({"remain_file":1})"),
       [](const LaunchConfiguration& c) { EXPECT_FALSE(c.remain_file); }},
      {"is_package_log as a string is false",
       Base64Encode(R"({"is_package_log":"true"})"),
       [](const LaunchConfiguration& c) { EXPECT_FALSE(c.is_package_log); }},
      {"custom_data of any kind is copied whole",
       Base64Encode(R"({"custom_data":"text"})"),
       [](const LaunchConfiguration& c) {
         EXPECT_EQ(c.custom_data.kind(), base::JsonKind::String);
       }},
      {"keys are case-sensitive", Base64Encode(R"({"Work_Dir":"/x"})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.work_dir, ""); }},
      {"the first of a duplicated key wins",
       Base64Encode(R"({"work_dir":"/first","work_dir":"/second"})"),
       [](const LaunchConfiguration& c) { EXPECT_EQ(c.work_dir, "/first"); }},
      {"the crash plug-in's own settings have no effect",
       Base64Encode(R"({"dump_path":"/x","dmp_dir":"/y"})"),
       ExpectObjectDefaults},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(ParseLaunchConfiguration(c.argument));
  }
}

TEST(LaunchConfigurationTest, CopiesAreDeep) {
  LaunchConfiguration original = ParseJson(R"({"custom_data":{"a":"1"}})");
  LaunchConfiguration copy = original;
  copy.custom_data.SetString("a", "2");
  EXPECT_EQ(original.custom_data.GetString("a"), "1");
}

}  // namespace
}  // namespace tlv
