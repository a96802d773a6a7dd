#ifndef REPORT_BASE_REPORTER_H_
#define REPORT_BASE_REPORTER_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "base/net/http_transport.h"
#include "base/thread/task_token.h"

namespace base {
class Database;
}  // namespace base

namespace tlv {

class BaseReport;

// Scrambles telemetry request bodies and queued events: 32 bytes used as the
// ARC4 key as they are. The log-collection service holds the same key.
inline constexpr std::string_view kTelemetryKey =
    "Wk5$tr9Lq2Zv!Hn7Pc3Xm8&Rb4Jd6#Ys";

// One event as a reporter handles it. Copied, never shared.
struct EventRecord {
  EventRecord();

  std::string id;    // 32 random characters
  int64_t time = 0;  // microseconds since 1970 (UTC) of the local clock
  std::string json;  // the event document; scrambled once queued
  int32_t status = 0;
};

// The base of the event reporters. An event is either sent at once, on the
// caller's thread (BlockReport), or taken for later (Report) into one of two
// bounded in-memory queues, scrambled with the telemetry key. How a batch
// becomes a request belongs to the concrete reporter.
//
// The store behind the queues keeps nothing, so the queues start empty in
// every run, and nothing in this process sends them: they fill, drop their
// oldest entries when full, and are lost with the reporter.
//
// The queues and the store are touched only on the main task runner's
// thread, and in Init before any task exists, so they need no lock.
class BaseReporter {
 public:
  static constexpr int32_t kDefaultStoreCapacity = 2000;

  // The limits are clamped: queue_limit to [20, 100]; batch_limit to at most
  // the queue limit and at least 10; third to [3, 10]. The expiry age (in
  // seconds) and the store capacity are kept as given.
  BaseReporter(int32_t batch_limit,
               int32_t queue_limit,
               int32_t third,
               int32_t expiry_seconds,
               int32_t store_capacity = kDefaultStoreCapacity);
  BaseReporter(const BaseReporter&) = delete;
  BaseReporter& operator=(const BaseReporter&) = delete;
  virtual ~BaseReporter();

  // Sets up the store under store_name and loads what it holds into the
  // queues; queued work goes to the application context's main task runner.
  void Init(const std::string& store_name);

  // The area code that the concrete reporter chooses its endpoint by.
  void SetArea(int32_t area) { area_.store(area); }
  int32_t area() const { return area_.load(); }

  // Sends "[" + record.json + "]" at once with one retry and returns whether
  // the transport succeeded; response receives the answer or the error
  // texts, and last_attempt, when given, the last attempt's outcome. Neither
  // the queues nor the store are touched.
  bool BlockReport(const EventRecord& record,
                   std::string* response,
                   base::net::HTTPAttemptOutcome* last_attempt = nullptr);

  // Queues record on the main task runner and returns at once. Dropped
  // before Init, and when the reporter is gone by the time the task runs.
  void Report(EventRecord record);

  // The request for a batch (a JSON array text).
  virtual std::unique_ptr<BaseReport> CreateReport(
      const std::string& batch) = 0;
  // Whether the service accepted a batch, judged from its answer.
  virtual bool CheckResponse(const std::string& response) = 0;

  int32_t batch_limit() const { return batch_limit_; }
  int32_t queue_limit() const { return queue_limit_; }
  int32_t third_limit() const { return third_limit_; }
  int32_t store_capacity() const { return store_capacity_; }
  const std::string& store_name() const { return store_name_; }
  // The queued events of status 0 (queue 0) or of any other status (queue
  // 1), oldest first. Read only on the main task runner's thread, or once
  // its tasks have run.
  const std::deque<EventRecord>& queue(int32_t index) const {
    return index == 0 ? queue0_ : queue1_;
  }

 private:
  // Creates the store afresh, opens it, sweeps the expired entries and logs
  // what remains.
  void InitDB_();
  // The queued task's work for one event.
  void Enqueue_(EventRecord record);

  std::atomic<int32_t> area_{0};
  // The batch limit and the third limit are for the queued sender that
  // would drain the queues; nothing in this process reads them.
  const int32_t batch_limit_;
  const int32_t queue_limit_;
  const int32_t third_limit_;
  const int32_t expiry_seconds_;
  const int32_t store_capacity_;
  std::string store_name_;
  std::string runner_name_;
  std::unique_ptr<base::Database> store_;
  std::deque<EventRecord> queue0_;
  std::deque<EventRecord> queue1_;
  // Last, so that it is destroyed first: a queued task that is running holds
  // the reporter alive until it is done, and later ones do nothing.
  base::TaskToken token_;
};

// The one-time store-full event: the first call in a process sends the
// telemetry event "BaseReporter" / "DbOverflow" with the result
// "<store_name> max_db_count:<capacity>" and logs it as an error; later calls
// do nothing.
void DbOverflow(const std::string& store_name, int32_t capacity);

}  // namespace tlv

#endif  // REPORT_BASE_REPORTER_H_
