#include "common/common_service.h"

#include <regex>
#include <string>
#include <vector>

#include "base/utils/sys_info.h"
#include "gtest/gtest.h"
#include "test/process_log.h"

namespace tlv {
namespace {

bool IsRandomId(const std::string& id) {
  return std::regex_match(id, std::regex("[0-9a-z]{32}"));
}

TEST(CommonServiceTest, Defaults) {
  CommonService service;
  EXPECT_EQ(service.GetArea(), kAreaNone);
  EXPECT_EQ(service.GetAreaText(), "");
  EXPECT_EQ(service.GetFtcSwitch(), -1);
  EXPECT_EQ(service.GetCompileType(), "release");
  EXPECT_EQ(service.GetSdkVersion(), "2.40.0.9");
  EXPECT_EQ(service.GetPluginVersion(), "2.40.0.9");
  EXPECT_EQ(service.GetPlatform(), "Windows");
  EXPECT_EQ(service.GetCpuArchitecture(), "x86_64");
  EXPECT_EQ(service.GetRom(), "Microsoft");
  EXPECT_FALSE(service.IsRoot());
  EXPECT_TRUE(IsRandomId(service.GetLifecycleId()));
  // The machine is asked only once the privacy level is known.
  EXPECT_EQ(service.GetSystemVersion(), "");
  EXPECT_EQ(service.GetDeviceId(), "");
  EXPECT_FALSE(service.IsValid());
}

TEST(CommonServiceTest, Validity) {
  struct Case {
    const char* common_info;
    bool valid;
    int32_t area;
    const char* area_text;
  };
  const std::vector<Case> cases = {
      {R"({"app_id":"a","area":"cn"})", true, kAreaMainland, "cn"},
      {R"({"app_id":"a","area":"os","compile_type":"debug"})", true,
       kAreaOversea, "os"},
      {R"({"app_id":"a","area":"CN"})", false, kAreaNone, ""},
      {R"({"app_id":"a","area":"mainland"})", false, kAreaNone, ""},
      {R"({"app_id":"a","area":""})", false, kAreaNone, ""},
      {R"({"app_id":"a","area":1})", false, kAreaNone, ""},
      {R"({"app_id":"a","area":"cn","compile_type":"Release"})", false,
       kAreaMainland, "cn"},
      {R"({"app_id":"","area":"cn"})", false, kAreaMainland, "cn"},
      {R"({"app_id":7,"area":"cn"})", false, kAreaMainland, "cn"},
      {R"({"area":"os"})", false, kAreaOversea, "os"},
      {R"([{"app_id":"a","area":"cn"}])", false, kAreaNone, ""},
      {"not json", false, kAreaNone, ""},
      {"", false, kAreaNone, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.common_info);
    CommonService service;
    service.Update(c.common_info);
    EXPECT_EQ(service.IsValid(), c.valid);
    EXPECT_EQ(service.GetArea(), c.area);
    EXPECT_EQ(service.GetAreaText(), c.area_text);
    // Whatever the input, an update leaves a device id behind.
    EXPECT_TRUE(IsRandomId(service.GetDeviceId()));
  }
}

TEST(CommonServiceTest, AreaIsSetOnceAndRejectsOtherTexts) {
  test::ProcessLog log;
  CommonService service;
  service.Update(R"({"area":"CN"})");
  EXPECT_EQ(log.Take(),
            "4 tlv::CommonService::ProcessArea_: Invalid area: CN\n");
  EXPECT_EQ(service.GetArea(), kAreaNone);

  service.Update(R"({"area":"os"})");
  service.Update(R"({"area":"cn"})");
  EXPECT_EQ(service.GetArea(), kAreaOversea);
  EXPECT_EQ(service.GetAreaText(), "os");
  EXPECT_EQ(log.Take(),
            "4 tlv::CommonService::ProcessArea_: "
            "Area is already set, can't set again\n");
}

TEST(CommonServiceTest, TakesTextsOnlyFromNonEmptyStrings) {
  CommonService service;
  service.Update(
      R"({"app_version":"1.2","channel":"steam","sdk_version":"9.9",)"
      R"("plugin_version":"0.1","platform":"Linux","lrsag":0,"is_root":true,)"
      R"("lifecycle_id":"life","user_id":"u"})");
  service.Update(
      R"({"app_version":3,"channel":"","sdk_version":null,"lrsag":"1",)"
      R"("is_root":1,"user_id":["x"]})");
  EXPECT_EQ(service.GetAppVersion(), "1.2");
  EXPECT_EQ(service.GetChannel(), "steam");
  EXPECT_EQ(service.GetSdkVersion(), "9.9");
  EXPECT_EQ(service.GetPluginVersion(), "2.40.0.9");  // not the host's
  EXPECT_EQ(service.GetPlatform(), "Linux");
  EXPECT_EQ(service.GetLifecycleId(), "life");
  EXPECT_EQ(service.GetUserId(), "u");
  EXPECT_TRUE(service.IsRoot());
}

TEST(CommonServiceTest, DeviceIdIsMadeOnceAndKept) {
  CommonService service;
  service.Update("{}");
  const std::string made = service.GetDeviceId();
  EXPECT_TRUE(IsRandomId(made));
  service.Update(R"({"device_id":""})");
  EXPECT_EQ(service.GetDeviceId(), made);
  service.Update(R"({"device_id":"host-device"})");
  EXPECT_EQ(service.GetDeviceId(), "host-device");
  service.Update("{}");
  EXPECT_EQ(service.GetDeviceId(), "host-device");
}

// Each case updates the same service in turn, so later cases see what the
// earlier ones left.
TEST(CommonServiceTest, DeviceNameOnlyWithUseDeviceName) {
  struct Step {
    const char* common_info;
    std::string device_name;
  };
  const std::string computer = base::utils::GetComputerName();
  const std::vector<Step> steps = {
      {R"({"device_name":"Rig"})", ""},
      {R"({"use_device_name":true})", computer},
      {R"({"use_device_name":true,"device_name":""})", computer},
      {R"({"use_device_name":true,"device_name":"Rig"})", "Rig"},
      {R"({"device_name":"Other"})", "Rig"},
      {R"({"use_device_name":"false"})", "Rig"},
      {R"({"use_device_name":false,"device_name":"Rig"})", ""},
  };
  CommonService service;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.common_info);
    service.Update(step.common_info);
    EXPECT_EQ(service.GetDeviceName(), step.device_name);
  }
}

TEST(CommonServiceTest, MachineDescriptionFillsOnlyEmptyFields) {
  CommonService service;
  service.Update(R"({"system_version":"10.0.22631"})");
  service.SetFtcSwitch(0);
  EXPECT_EQ(service.GetSystemVersion(), "10.0.22631");
  EXPECT_EQ(service.GetBrand(), base::utils::GetSystemManufacturer());
  EXPECT_EQ(service.GetDeviceModel(), base::utils::GetProductName());

  // A fresh service takes the version from the machine, which never reports
  // an empty one.
  CommonService fresh;
  fresh.SetFtcSwitch(0);
  EXPECT_EQ(fresh.GetSystemVersion(), base::utils::GetSystemVersion());
  EXPECT_NE(fresh.GetSystemVersion(), "");
}

// The privacy filter over every switch level, area and lrsag. Identity
// values hide from level 1, device values at level 2; never in area "cn"
// and never unless lrsag is 1. An area not set yet is filtered like "os".
TEST(CommonServiceTest, PrivacyFilter) {
  struct Case {
    int32_t ftc_switch;
    const char* area;   // member text, or "" for none
    const char* lrsag;  // member text, or "" for the default 1
    bool identity_hidden;
    bool device_hidden;
  };
  const std::vector<Case> cases = {
      {0, "os", "", false, false},
      {1, "os", "", true, false},
      {2, "os", "", true, true},
      {0, "cn", "", false, false},
      {1, "cn", "", false, false},
      {2, "cn", "", false, false},
      {0, "", "", false, false},
      {1, "", "", true, false},
      {2, "", "", true, true},
      {1, "os", ",\"lrsag\":0", false, false},
      {2, "os", ",\"lrsag\":0", false, false},
      {2, "os", ",\"lrsag\":2", false, false},
      {2, "", ",\"lrsag\":0", false, false},
      {2, "os", ",\"lrsag\":1", true, true},
  };
  for (const Case& c : cases) {
    const std::string common_info =
        std::string(R"({"user_id":"u","user_device_id":"ud","a_id":"aid",)") +
        R"("brand":"b","device_model":"m","system_version":"v",)" +
        R"("use_device_name":true,"device_name":"n","app_id":"app")" +
        (*c.area ? std::string(R"(,"area":")") + c.area + "\"" : "") + c.lrsag +
        "}";
    SCOPED_TRACE(common_info + " at level " + std::to_string(c.ftc_switch));
    CommonService service;
    service.SetFtcSwitch(0);
    service.Update(common_info);
    service.SetFtcSwitch(c.ftc_switch);

    for (const std::string& value :
         {service.GetUserId(), service.GetUserDeviceId(), service.GetAId()}) {
      EXPECT_EQ(value.empty(), c.identity_hidden) << value;
    }
    for (const std::string& value :
         {service.GetBrand(), service.GetDeviceModel(), service.GetDeviceName(),
          service.GetSystemVersion()}) {
      EXPECT_EQ(value.empty(), c.device_hidden) << value;
    }
    // Neither filter touches the rest.
    EXPECT_EQ(service.GetAppId(), "app");

    // The filter hides; it never erases.
    service.SetFtcSwitch(0);
    EXPECT_EQ(service.GetUserId(), "u");
    EXPECT_EQ(service.GetBrand(), "b");
  }
}

}  // namespace
}  // namespace tlv
