#include "telemetry/telemetry.h"

#include <httplib.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/json/base64.h"
#include "base/json/json_value.h"
#include "base/utils/arc4.h"
#include "base/utils/time.h"
#include "common/common_service.h"
#include "environment/application_context.h"
#include "gtest/gtest.h"
#include "telemetry/area_plugin.h"
#include "test/http_server.h"
#include "test/process_log.h"
#include "test/scoped_time_zone.h"

namespace tlv {
namespace {

// What the log-collection service does with a body: Base64, then ARC4 with
// the shared key.
std::string Unscramble(const std::string& body) {
  const base::JsonValue outer = base::JsonValue::Parse(body);
  EXPECT_EQ(outer.Members().size(), 1u) << body;
  return base::utils::Arc4Crypt(
      base::utils::Base64Decode(outer.GetString("data").value_or("")),
      kTelemetryKey);
}

TEST(TelemetryTest, BodyIsTheScrambledBatchInsideData) {
  const std::string batch = R"([{"event":"a"},{"event":"b","n":"1"}])";
  EXPECT_EQ(Unscramble(BuildTelemetryBody(batch)), R"({"data":)" + batch + "}");
}

TEST(TelemetryTest, OnlyRetcodeZeroIsAccepted) {
  struct Case {
    const char* answer;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {R"({"retcode":0})", true},
      {R"({"retcode":0,"message":"ok"})", true},
      {R"({"retcode":"0"})", false},
      {R"({"retcode":0.0})", false},
      {R"({"retcode":1})", false},
      {R"({})", false},
      {R"([{"retcode":0}])", false},
      {"<html>busy</html>", false},
      {"", false},
  };
  TelemetryReporter reporter;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    EXPECT_EQ(reporter.CheckResponse(c.answer), c.accepted);
  }
}

// Every common field comes from its own piece of the common information, as
// the common service gives it out: oversea with ftc switch 1 hides the user
// identifiers.
TEST(TelemetryTest, CommonFieldsFollowTheCommonService) {
  ApplicationContext& context = ApplicationContext::Instance();
  context.SetFtcSwitch(1);
  context.GetCommonService()->Update(
      R"({"app_id":"app","area":"os","compile_type":"debug",)"
      R"("app_version":"av","package_name":"pkg","user_id":"uid",)"
      R"("user_device_id":"udid","a_id":"aid","lifecycle_id":"life",)"
      R"("platform":"pf","device_model":"model","system_version":"sys",)"
      R"("device_id":"dev","sdk_version":"9.9","use_device_name":true,)"
      R"("device_name":"name"})");
  // One hour east of UTC: the local day is already the next one.
  test::ScopedTimeZone zone("XXX-1");
  const base::Time now = base::Time::FromTicks(
      (1704150000LL * 1000 + 5) * base::Time::kTicksPerMillisecond);

  base::JsonValue event;
  FillTelemetryCommonFields(event, now);
  std::map<std::string, std::string> fields;
  for (const auto& [name, value] : event.Members()) {
    ASSERT_EQ(value.kind(), base::JsonKind::String) << name;
    fields[name] = *event.GetString(name);
  }
  EXPECT_EQ(fields, (std::map<std::string, std::string>{
                        {"@timestamp", "2024-01-01T23:00:00.005Z"},
                        {"record_log_time", "2024/01/02 00:00:00.005"},
                        {"telemetry_version", "2.40.0.9"},
                        {"sdk_version", "9.9"},
                        {"device_name", "name"},
                        {"client_type", "pf"},
                        {"sys_version", "sys"},
                        {"device_id", "dev"},
                        {"device_model", "model"},
                        {"app_version_code", "av"},
                        {"user_id", ""},
                        {"user_device_id", ""},
                        {"app_id", "app"},
                        {"a_id", ""},
                        {"lifecycle_id", "life"},
                        {"package_name", "pkg"},
                        {"compile_type", "debug"},
                        {"area", "os"},
                    }));
}

TEST(TelemetryTest, EventRecordCarriesTheEventAndIsAlwaysWritable) {
  const int64_t before = base::Time().ToMicroseconds();
  struct Case {
    std::string result;
    std::string sent;
  };
  const std::vector<Case> cases = {
      {"2 files 0", "2 files 0"},
      // A service's answer in Latin-1 keeps the event, not its bad bytes.
      {"d\xe9j\xe0 vu", "d\xef\xbf\xbdj\xef\xbf\xbd vu"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    const EventRecord record = BuildEventRecord(
        "CrashReportScan", "crash_plugin", c.result, "crash_report.cc:46");
    EXPECT_EQ(record.id.size(), 32u);
    EXPECT_GE(record.time, before);
    EXPECT_LE(record.time, base::Time().ToMicroseconds());
    EXPECT_EQ(record.status, 0);
    const base::JsonValue event = base::JsonValue::Parse(record.json);
    EXPECT_EQ(event.GetString("event"), "CrashReportScan");
    EXPECT_EQ(event.GetString("component"), "crash_plugin");
    EXPECT_EQ(event.GetString("result"), c.sent);
    EXPECT_EQ(event.GetString("loc"), "crash_report.cc:46");
    EXPECT_TRUE(event.GetString("@timestamp"));
  }
}

// The immediate send: the reporter's area picks the endpoint, the answer is
// logged as it came, unjudged.
TEST(TelemetryTest, BlockReportSendsOneEventAndLogsTheOutcome) {
  std::mutex mutex;
  std::vector<std::string> bodies;
  test::HttpServer server;
  server.server().Post(
      "/common/h5log/log/batch",
      [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex);
        EXPECT_EQ(request.get_param_value("topic"), "plat_apm_sdk");
        EXPECT_EQ(request.get_header_value("CONTENT-TYPE"), "application/json");
        EXPECT_TRUE(request.has_header("DATE"));
        EXPECT_FALSE(request.has_header("Authorization"));
        bodies.push_back(request.body);
        response.set_content(R"({"retcode":1})", "application/json");
      });
  ASSERT_TRUE(server.Start(LOOPBACK_PORT));
  test::ProcessLog log;
  Telemetry telemetry(kAreaNone);
  log.Take();

  struct Case {
    int32_t area;
    size_t requests;
    std::string line;
  };
  const std::vector<Case> cases = {
      {kAreaNone, 0,
       "2 tlv::Telemetry::BlockReport: BlockReport result: false url is "
       "empty\n"},
      {kAreaOversea, 1,
       "2 tlv::Telemetry::BlockReport: BlockReport result: true "
       "{\"retcode\":1}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.area);
    telemetry.SetArea(c.area);
    telemetry.BlockReport("CrashReport", "crash_plugin", "x.dmp,1",
                          "crash_report.cc:56");
    const std::string lines = log.Take();
    EXPECT_EQ(lines.substr(lines.rfind("\n2 tlv::Telemetry") + 1), c.line);
    std::lock_guard lock(mutex);
    ASSERT_EQ(bodies.size(), c.requests);
  }
  const base::JsonValue sent =
      *base::JsonValue::Parse(Unscramble(bodies[0])).GetValue("data");
  ASSERT_EQ(sent.Elements().size(), 1u);
  const base::JsonValue& event = sent.Elements()[0];
  EXPECT_EQ(event.GetString("event"), "CrashReport");
  EXPECT_EQ(event.GetString("component"), "crash_plugin");
  EXPECT_EQ(event.GetString("result"), "x.dmp,1");
  EXPECT_EQ(event.GetString("loc"), "crash_report.cc:56");
}

// A service that fails at once (here with an error status) costs each event
// its two attempts and nothing more: the run's later events are still sent,
// and one of them may get through. Only a failure that waited out a time-out
// stops the run's events (CrashReportDeliveryTest shows that, as it takes
// the transport's full time-outs).
TEST(TelemetryTest, BlockReportGoesOnAfterAQuickFailure) {
  std::atomic<int> requests = 0;
  test::HttpServer server;
  server.server().Post(
      "/common/h5log/log/batch",
      [&](const httplib::Request&, httplib::Response& response) {
        // The first event's two attempts fail.
        if (++requests <= 2)
          response.status = 500;
        else
          response.set_content(R"({"retcode":0})", "application/json");
      });
  ASSERT_TRUE(server.Start(LOOPBACK_PORT));
  test::ProcessLog log;
  Telemetry telemetry(kAreaNone);
  telemetry.SetArea(kAreaOversea);
  log.Take();

  telemetry.BlockReport("CrashReport", "crash_plugin", "a.dmp,1", "x.cc:1");
  EXPECT_EQ(requests, 2);  // one retry
  std::string lines = log.Take();
  EXPECT_NE(lines.find("BlockReport result: false HTTP status 500"),
            std::string::npos)
      << lines;
  EXPECT_EQ(lines.find("the log-collection service failed"), std::string::npos)
      << lines;

  telemetry.BlockReport("CrashReportScan", "crash_plugin", "2 files 0",
                        "x.cc:2");
  EXPECT_EQ(requests, 3);
  lines = log.Take();
  EXPECT_NE(lines.find(R"(BlockReport result: true {"retcode":0})"),
            std::string::npos)
      << lines;
}

// Counts its live instances, so the plug-in's ownership shows.
struct Counted {
  explicit Counted(int32_t area) : area(area) { ++live; }
  ~Counted() { --live; }
  static inline int live = 0;
  const int32_t area;
};

template <typename T>
class TestPlugin final : public AreaPlugin<T> {
 public:
  explicit TestPlugin(bool per_area) : AreaPlugin<T>(per_area) {}
};

TEST(AreaPluginTest, HandsOutTheInstanceOfAnArea) {
  struct Case {
    bool per_area;
    int live;
    std::map<int32_t, int32_t> slot_for_area;  // -1: no instance
  };
  const std::vector<Case> cases = {
      {false, 1, {{0, 0}, {1, 0}, {2, 0}, {7, 0}}},
      {true, 2, {{0, -1}, {1, 1}, {2, 2}, {7, -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.per_area);
    {
      TestPlugin<Counted> plugin(c.per_area);
      EXPECT_EQ(Counted::live, c.live);
      for (const auto& [area, slot] : c.slot_for_area) {
        SCOPED_TRACE(area);
        const Counted* instance = plugin.Get(area);
        EXPECT_EQ(instance ? instance->area : -1, slot);
      }
      EXPECT_EQ(plugin.Get(0), plugin.Get(7));
    }
    EXPECT_EQ(Counted::live, 0);
  }
}

TEST(AreaPluginTest, EachTelemetrySlotHasItsOwnStore) {
  const TestPlugin<Telemetry> single(false);
  EXPECT_EQ(single.Get(1)->reporter().store_name(), "telemetry");
  const TestPlugin<Telemetry> per_area(true);
  EXPECT_EQ(per_area.Get(1)->reporter().store_name(), "telemetry_mainland");
  EXPECT_EQ(per_area.Get(2)->reporter().store_name(), "telemetry_oversea");
  EXPECT_EQ(per_area.Get(2)->area(), kAreaOversea);
}

}  // namespace
}  // namespace tlv
