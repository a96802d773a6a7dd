#include "report/base_reporter.h"

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

#include "base/database/database.h"
#include "base/logging/logging.h"
#include "base/thread/executor.h"
#include "base/utils/arc4.h"
#include "base/utils/string_util.h"
#include "base/utils/time.h"
#include "environment/application_context.h"
#include "report/report.h"

namespace tlv {
namespace {

constexpr int64_t kMicrosecondsPerSecond = 1'000'000;

int32_t ClampQueueLimit(int32_t queue_limit) {
  return std::min(std::max(queue_limit, 20), 100);
}

}  // namespace

EventRecord::EventRecord()
    : id(base::utils::RandomString()), time(base::Time().ToMicroseconds()) {}

BaseReporter::BaseReporter(int32_t batch_limit,
                           int32_t queue_limit,
                           int32_t third,
                           int32_t expiry_seconds,
                           int32_t store_capacity)
    : batch_limit_(
          std::max(std::min(batch_limit, ClampQueueLimit(queue_limit)), 10)),
      queue_limit_(ClampQueueLimit(queue_limit)),
      third_limit_(std::min(std::max(third, 3), 10)),
      expiry_seconds_(expiry_seconds),
      store_capacity_(store_capacity) {}

BaseReporter::~BaseReporter() = default;

void BaseReporter::Init(const std::string& store_name) {
  const std::string runner_name =
      ApplicationContext::Instance().GetMainTaskRunner();
  InitDB_();
  store_name_ = store_name;
  runner_name_ = runner_name;

  // Events the store kept from earlier runs, oldest first.
  for (int32_t status : {0, 1}) {
    std::deque<EventRecord>& queue = status == 0 ? queue0_ : queue1_;
    for (base::Database::Entry& entry :
         store_->Select(queue_limit_, status, /*offset=*/0)) {
      EventRecord record;
      record.id = std::move(entry.id);
      record.time = entry.time;
      record.json = std::move(entry.text);
      record.status = entry.status;
      queue.push_back(std::move(record));
    }
  }
}

void BaseReporter::InitDB_() {
  store_.reset();
  store_ = std::make_unique<base::Database>();
  store_->Open(ApplicationContext::Instance().GetWorkDir());
  const int64_t expire_time =
      base::Time().ToMicroseconds() - expiry_seconds_ * kMicrosecondsPerSecond;
  store_->DeleteBefore(expire_time);
  TLV_LOG(base::logging::kInfo,
          "initDB_ finished with expire_time:{} remain count {}", expire_time,
          store_->Count());
}

bool BaseReporter::BlockReport(const EventRecord& record,
                               std::string* response,
                               base::net::HTTPAttemptOutcome* last_attempt) {
  const std::string batch = "[" + record.json + "]";
  TLV_LOG(base::logging::kInfo, "block report {}", batch);
  const std::unique_ptr<BaseReport> report = CreateReport(batch);
  const bool ok = report->StartWithBlock(response, /*retries=*/1);
  if (last_attempt)
    *last_attempt = report->last_attempt();
  return ok;
}

void BaseReporter::Report(EventRecord record) {
  ApplicationContext::Instance().GetExecutor()->PostTask(
      runner_name_,
      [this, token = token_.GetWeak(), record = std::move(record)]() mutable {
        if (const std::shared_ptr<base::MemDummy> alive = token.lock())
          Enqueue_(std::move(record));
      });
}

void BaseReporter::Enqueue_(EventRecord record) {
  if (!store_)
    return;
  if (store_->Count() >= store_capacity_) {
    TLV_LOG(base::logging::kInfo, "Write DB max_database_count");
    DbOverflow(store_name_, store_capacity_);
    return;
  }
  record.json = base::utils::Arc4Crypt(record.json, kTelemetryKey);
  store_->Insert(record.id, record.time, record.json, record.status);
  std::deque<EventRecord>& queue = record.status != 0 ? queue1_ : queue0_;
  while (queue.size() >= static_cast<size_t>(queue_limit_))
    queue.pop_front();
  queue.push_back(std::move(record));
}

void DbOverflow(const std::string& store_name, int32_t capacity) {
  static std::atomic<bool> raised{false};
  if (raised.exchange(true))
    return;
  const std::string result =
      store_name + " max_db_count:" + std::to_string(capacity);
  TelemetryReport("BaseReporter", "DbOverflow", result, TLV_SOURCE_LOCATION());
  TLV_LOG(base::logging::kError, "event: {}, component: {}, result: {}",
          "BaseReporter", "DbOverflow", result);
}

}  // namespace tlv
