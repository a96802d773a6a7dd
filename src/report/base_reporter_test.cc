#include "report/base_reporter.h"

#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "base/json/json_value.h"
#include "base/thread/executor.h"
#include "base/utils/arc4.h"
#include "base/utils/time.h"
#include "environment/application_context.h"
#include "gtest/gtest.h"
#include "report/report.h"
#include "telemetry/telemetry.h"
#include "telemetry/telemetry_area_plugin.h"
#include "test/http_server.h"
#include "test/process_log.h"

namespace tlv {
namespace {

// Sends each batch as it is to url.
class PlainReporter final : public BaseReporter {
 public:
  using BaseReporter::BaseReporter;

  std::unique_ptr<BaseReport> CreateReport(const std::string& batch) override {
    auto report = std::make_unique<SimpleReport>();
    report->SetUrl(url);
    report->SetMethod(base::net::HTTPMethod::kPost);
    report->SetPlainHeaders();
    report->SetBody(batch);
    return report;
  }
  bool CheckResponse(const std::string&) override { return false; }

  std::string url;
};

EventRecord Record(const std::string& json, int32_t status = 0) {
  EventRecord record;
  record.json = json;
  record.status = status;
  return record;
}

// Returns once the main task runner has run what was posted to it, and what
// those tasks posted in turn, `generations` deep.
void RunMainRunnerTasks(int generations = 1) {
  ApplicationContext& context = ApplicationContext::Instance();
  for (int i = 0; i < generations; ++i) {
    std::promise<void> done;
    context.GetExecutor()->PostTask(context.GetMainTaskRunner(),
                                    [&done] { done.set_value(); });
    done.get_future().wait();
  }
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(BaseReporterTest, ClampsItsLimits) {
  struct Case {
    int32_t batch, queue, third;
    int32_t want_batch, want_queue, want_third;
  };
  const std::vector<Case> cases = {
      {10, 30, 6, 10, 30, 6},        // the telemetry reporter's
      {5, 10, 1, 10, 20, 3},         // raised to the minimums
      {200, 500, 50, 100, 100, 10},  // lowered to the maximums
      {15, 12, 3, 15, 20, 3},        // the batch follows the clamped queue
      {-5, -1, -9, 10, 20, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.batch << ", " << c.queue << ", " << c.third);
    PlainReporter reporter(c.batch, c.queue, c.third, 0);
    EXPECT_EQ(reporter.batch_limit(), c.want_batch);
    EXPECT_EQ(reporter.queue_limit(), c.want_queue);
    EXPECT_EQ(reporter.third_limit(), c.want_third);
    EXPECT_EQ(reporter.store_capacity(), 2000);
  }
}

TEST(BaseReporterTest, InitSweepsTheStoreAndStartsEmpty) {
  test::ProcessLog log;
  PlainReporter reporter(10, 30, 6, 604800);
  const int64_t before = base::Time().ToMicroseconds();
  reporter.Init("store");
  const int64_t after = base::Time().ToMicroseconds();

  const std::string line = log.Take();
  const std::string prefix =
      "2 tlv::BaseReporter::InitDB_: initDB_ finished with expire_time:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int64_t expire_time = std::stoll(line.substr(prefix.size()));
  EXPECT_GE(expire_time, before - 604'800'000'000);
  EXPECT_LE(expire_time, after - 604'800'000'000);
  EXPECT_EQ(line.substr(line.find(" remain")), " remain count 0\n");
  EXPECT_EQ(reporter.store_name(), "store");
  EXPECT_TRUE(reporter.queue(0).empty());
  EXPECT_TRUE(reporter.queue(1).empty());
}

TEST(BaseReporterTest, QueuesKeepTheNewestEventsScrambled) {
  PlainReporter reporter(10, 30, 6, 604800);
  // Without a store nothing is taken.
  reporter.Report(Record(R"({"n":0})"));
  RunMainRunnerTasks();
  reporter.Init("store");
  RunMainRunnerTasks();
  EXPECT_TRUE(reporter.queue(0).empty());

  for (int n = 1; n <= 31; ++n)
    reporter.Report(Record(R"({"n":)" + std::to_string(n) + "}"));
  reporter.Report(Record(R"({"n":"retry"})", 1));
  RunMainRunnerTasks();

  std::vector<std::string> queued;
  for (const EventRecord& record : reporter.queue(0)) {
    EXPECT_EQ(record.json.find(R"("n")"), std::string::npos);
    queued.push_back(base::utils::Arc4Crypt(record.json, kTelemetryKey));
  }
  std::vector<std::string> expected;
  for (int n = 2; n <= 31; ++n)
    expected.push_back(R"({"n":)" + std::to_string(n) + "}");
  EXPECT_EQ(queued, expected);
  ASSERT_EQ(reporter.queue(1).size(), 1u);
  EXPECT_EQ(base::utils::Arc4Crypt(reporter.queue(1)[0].json, kTelemetryKey),
            R"({"n":"retry"})");
}

// A full store takes nothing, and says so once per process through the
// telemetry of the application context.
TEST(BaseReporterTest, FullStoreRaisesOneOverflowEvent) {
  InstallTelemetry();
  test::ProcessLog log;
  PlainReporter reporter(10, 30, 6, 604800, /*store_capacity=*/0);
  reporter.Init("overflow");
  log.Take();
  reporter.Report(Record("{}"));
  reporter.Report(Record("{}"));
  // The overflow queues a telemetry event, whose task queues it in turn.
  RunMainRunnerTasks(3);

  EXPECT_TRUE(reporter.queue(0).empty());
  const std::string lines = log.Take();
  EXPECT_EQ(Count(lines, ": Write DB max_database_count\n"), 2u) << lines;
  EXPECT_EQ(Count(lines,
                  "4 tlv::DbOverflow: event: BaseReporter, component: "
                  "DbOverflow, result: overflow max_db_count:0\n"),
            1u)
      << lines;

  const auto& events =
      ApplicationContext::Instance().GetTelemetry()->reporter().queue(0);
  ASSERT_EQ(events.size(), 1u);
  const base::JsonValue event = base::JsonValue::Parse(
      base::utils::Arc4Crypt(events[0].json, kTelemetryKey));
  EXPECT_EQ(event.GetString("event"), "BaseReporter");
  EXPECT_EQ(event.GetString("component"), "DbOverflow");
  EXPECT_EQ(event.GetString("result"), "overflow max_db_count:0");
  EXPECT_EQ(event.GetString("loc").value_or("").rfind("base_reporter.cc:", 0),
            0u);
}

TEST(BaseReporterTest, TaskOfAReporterThatIsGoneDoesNothing) {
  test::ProcessLog log;
  auto reporter = std::make_unique<PlainReporter>(10, 30, 6, 604800, 0);
  reporter->Init("gone");

  // The worker is held while the event is posted and the reporter goes.
  ApplicationContext& context = ApplicationContext::Instance();
  std::promise<void> release;
  context.GetExecutor()->PostTask(
      context.GetMainTaskRunner(),
      [held = release.get_future().share()] { held.wait(); });
  reporter->Report(Record("{}"));
  reporter.reset();
  log.Take();
  release.set_value();
  RunMainRunnerTasks();

  // Had the task run, the full store would have said so.
  EXPECT_EQ(log.Take(), "");
}

TEST(BaseReporterTest, BlockReportSendsABatchOfOneWithOneRetry) {
  struct Case {
    int status;
    bool ok;
    size_t requests;
    std::string response;
  };
  const std::vector<Case> cases = {
      {200, true, 1, R"({"retcode":1})"},
      {500, false, 2, "HTTP status 500HTTP status 500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    test::ProcessLog log;
    std::mutex mutex;
    std::vector<std::string> bodies;
    test::HttpServer server;
    server.server().Post("/events", [&](const httplib::Request& request,
                                        httplib::Response& response) {
      std::lock_guard lock(mutex);
      bodies.push_back(request.body);
      response.status = c.status;
      response.set_content(R"({"retcode":1})", "application/json");
    });
    ASSERT_TRUE(server.Start());
    PlainReporter reporter(10, 30, 6, 604800);
    reporter.url = server.Url("/events");

    std::string response;
    EXPECT_EQ(reporter.BlockReport(Record(R"({"e":1})"), &response), c.ok);
    {
      // Under the handler's lock, as test/tsan_suppressions.cc explains.
      std::lock_guard lock(mutex);
      EXPECT_EQ(bodies, std::vector<std::string>(c.requests, R"([{"e":1}])"));
    }
    EXPECT_EQ(response, c.response);
    EXPECT_EQ(
        log.Take().rfind(
            "2 tlv::BaseReporter::BlockReport: block report [{\"e\":1}]\n", 0),
        0u);
    // The queues are for Report only.
    EXPECT_TRUE(reporter.queue(0).empty());
  }
}

}  // namespace
}  // namespace tlv
