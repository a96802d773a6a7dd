#include "report/report_envelope.h"

#include <string>
#include <vector>

#include "common/common_service.h"
#include "environment/application_context.h"
#include "gtest/gtest.h"

namespace tlv {
namespace {

class ReportEnvelopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ApplicationContext::Instance().GetCommonService()->Update(
        R"({"app_id":"game-7","area":"cn","compile_type":"release",)"
        R"("app_version":"1.2.3","channel":"store","user_id":"u-1",)"
        R"("a_id":"aid-1","lifecycle_id":"life-1"})");
  }
};

TEST_F(ReportEnvelopeTest, UploadContentHoldsWhatWasGiven) {
  base::JsonValue apm_info;
  apm_info.SetInt("PluginId", 1006);
  base::JsonValue custom_data;
  custom_data.SetString("level", "3-2");

  const base::JsonValue content =
      BuildUploadContent(kAreaMainland, "id-1", apm_info, base::JsonValue(),
                         custom_data, "pc-1", "local-time", "occur-time");

  EXPECT_EQ(content.GetString("ReportId"), "id-1");
  EXPECT_EQ(content.GetString("LocalTimestamp"), "local-time");
  EXPECT_EQ(content.GetString("OccurTimestamp"), "occur-time");
  EXPECT_EQ(content.GetValue("APMInfo")->GetInt("PluginId"), 1006);
  EXPECT_EQ(content.GetValue("CustomData")->GetString("level"), "3-2");
  // An empty object is left out rather than sent as {}.
  EXPECT_FALSE(content.GetValue("PluginData"));

  const base::JsonValue device = *content.GetValue("DeviceInfo");
  EXPECT_EQ(device.GetString("DeviceName"), "pc-1");
  EXPECT_TRUE(device.GetBool("IsRoot").has_value());
  EXPECT_EQ(device.GetString("Platform"), "Windows");

  const base::JsonValue app = *content.GetValue("AppInfo");
  EXPECT_EQ(app.GetString("AppId"), "game-7");
  EXPECT_EQ(app.GetString("AppVersion"), "1.2.3");
  EXPECT_EQ(app.GetString("Channel"), "store");
  EXPECT_EQ(app.GetString("CompileType"), "release");
  EXPECT_EQ(app.GetString("UserId"), "u-1");
  EXPECT_EQ(app.GetString("Aid"), "aid-1");
  EXPECT_EQ(app.GetString("LifecycleId"), "life-1");
}

TEST_F(ReportEnvelopeTest, AreaIsNamedByItsCode) {
  const std::vector<std::pair<int32_t, const char*>> cases = {
      {1, "cn"}, {2, "os"}, {0, "unknown"}, {3, "unknown"}};
  for (const auto& [area, text] : cases) {
    SCOPED_TRACE(area);
    EXPECT_EQ(BuildAppInfo(area).GetString("Area"), text);
  }
}

TEST_F(ReportEnvelopeTest, EventCarriesTimeAsTextAndDumpOnlyWhenGiven) {
  base::JsonValue content;
  content.SetString("ReportId", "id-1");

  const base::JsonValue with_dump = base::JsonValue::Parse(BuildReportEvent(
      "id-1", 100011, "APMReport", 1000000000, content, "QUJD"));
  EXPECT_EQ(with_dump.GetInt("applicationId"), 900007);
  EXPECT_EQ(with_dump.GetString("applicationName"), "apm");
  EXPECT_EQ(with_dump.GetString("msgId"), "id-1");
  EXPECT_EQ(with_dump.GetString("eventTime"), "1000000000");
  EXPECT_EQ(with_dump.GetInt("eventId"), 100011);
  EXPECT_EQ(with_dump.GetString("eventName"), "APMReport");
  EXPECT_EQ(with_dump.GetValue("uploadContent")->GetString("ReportId"), "id-1");
  EXPECT_EQ(with_dump.GetString("dump"), "QUJD");

  const base::JsonValue without_dump = base::JsonValue::Parse(
      BuildReportEvent("id-1", 100011, "APMReport", -1, content, ""));
  EXPECT_EQ(without_dump.GetString("eventTime"), "-1");
  EXPECT_FALSE(without_dump.GetValue("dump"));
}

}  // namespace
}  // namespace tlv
