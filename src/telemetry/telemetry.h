#ifndef TELEMETRY_TELEMETRY_H_
#define TELEMETRY_TELEMETRY_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/thread/task_token.h"
#include "base/utils/time.h"
#include "report/base_reporter.h"

namespace base {
class JsonValue;
}  // namespace base

namespace tlv {

// Sends batches of events to the log-collection service of its area, as
// {"data":"<Base64 of the ARC4-scrambled {\"data\":[event, ...]}>"}.
class TelemetryReporter final : public BaseReporter {
 public:
  // Batches of 10, queues of 30, entries expire after 7 days.
  TelemetryReporter();

  std::unique_ptr<BaseReport> CreateReport(const std::string& batch) override;
  // True only for an object whose "retcode" is the integer 0.
  bool CheckResponse(const std::string& response) override;
};

// The request body for a batch text (a JSON array).
std::string BuildTelemetryBody(const std::string& batch);

// Sets the members every event carries: the time of building, now (as
// "@timestamp" in UTC and "record_log_time" in local time, from this one
// reading), and the common information of the host and the machine as the
// common service gives it out, so its privacy filter applies.
void FillTelemetryCommonFields(base::JsonValue& object, base::Time now);

// The record of one event: the common fields of this moment plus "event",
// "component", "result" and "loc" (the raising call's "file:line").
EventRecord BuildEventRecord(const std::string& event,
                             const std::string& component,
                             const std::string& result,
                             const std::string& loc);

// The telemetry of one area slot of the area plug-in: 0 when one instance
// serves every area, 1 mainland, 2 oversea. Any thread may report.
class Telemetry final {
 public:
  // Builds and initialises the reporter with the slot's store name:
  // "telemetry", "telemetry_mainland" or "telemetry_oversea".
  explicit Telemetry(int32_t area);
  Telemetry(const Telemetry&) = delete;
  Telemetry& operator=(const Telemetry&) = delete;
  ~Telemetry();

  // Sends the event at once and logs "BlockReport result: <success>
  // <answer or error texts>". Blocks for the whole exchange; the answer is
  // not judged, and an event that could not be sent is not kept. Once one
  // exchange has failed by waiting out a time-out, later calls send nothing
  // and return at once: a service that hangs would otherwise cost every
  // event the transport's time-outs, twice, while the crash reports wait. A
  // failure that comes at once stops nothing. While the service asks every
  // player to wait (ServicePauses), nothing is sent either.
  void BlockReport(std::string event,
                   std::string component,
                   std::string result,
                   std::string loc);

  // Builds the event on the main task runner and queues it there.
  void Report(std::string event,
              std::string component,
              std::string result,
              std::string loc);

  // The area whose endpoint the reporter sends to; the slot and the store
  // name stay as they are. BlockReport sends again after a failure.
  void SetArea(int32_t area);

  int32_t area() const { return area_; }
  // The reporter, for its store name and queues.
  const TelemetryReporter& reporter() const { return *reporter_; }

 private:
  const int32_t area_;
  // Set by a BlockReport that failed by a time-out, cleared by SetArea.
  std::atomic<bool> service_failed_{false};
  // Made by the constructor and never replaced, so reading it needs no lock.
  const std::unique_ptr<TelemetryReporter> reporter_;
  // Last, so that it is destroyed first: queued tasks that have not run yet
  // then do nothing.
  base::TaskToken token_;
};

}  // namespace tlv

#endif  // TELEMETRY_TELEMETRY_H_
