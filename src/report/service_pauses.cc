#include "report/service_pauses.h"

#include <algorithm>

#include "base/logging/logging.h"

namespace tlv {
namespace {

constexpr int64_t kTicksPerSecond = base::Time::kTicksPerSecond;

// The service a request goes to: its URL without query or fragment. The
// endpoints are fixed when the program is built, so one service is always
// spelled the same way.
std::string ServiceOf(const std::string& url) {
  return url.substr(0, url.find_first_of("?#"));
}

std::string TimeText(int64_t ticks) {
  return base::Time::FromTicks(ticks).ToIso8601();
}

}  // namespace

ServicePauses::ScopedStore::ScopedStore(Store& store) {
  ServicePauses& pauses = Instance();
  std::lock_guard lock(pauses.mutex_);
  pauses.store_ = &store;
}

ServicePauses::ScopedStore::~ScopedStore() {
  ServicePauses& pauses = Instance();
  std::lock_guard lock(pauses.mutex_);
  pauses.store_ = nullptr;
}

// static
ServicePauses& ServicePauses::Instance() {
  // Never destroyed, like the application context: a thread may still ask
  // while the process ends.
  static ServicePauses* const pauses = new ServicePauses();
  return *pauses;
}

std::optional<base::Time> ServicePauses::PausedUntil(const std::string& url) {
  const std::string service = ServiceOf(url);
  const int64_t now = base::Time::Now();
  std::lock_guard lock(mutex_);
  int64_t end = 0;
  if (const auto kept = ends_.find(service); kept != ends_.end())
    end = kept->second;
  if (store_) {
    if (const std::optional<int64_t> stored = store_->PauseEnd(service))
      end = std::max(end, *stored);
  }
  if (end <= now || end - now > kLongestSeconds * kTicksPerSecond)
    return std::nullopt;
  if (logged_.insert(service).second) {
    TLV_LOG(base::logging::kWarn,
            "ServicePauses {} asked to wait; nothing is sent to it before {}",
            service, TimeText(end));
  }
  return base::Time::FromTicks(end);
}

void ServicePauses::Heed(const std::string& url,
                         const base::net::HTTPAttemptOutcome& outcome) {
  if (outcome.status != 429 && outcome.status != 503)
    return;
  const int64_t now = base::Time::Now();
  const std::optional<int64_t> asked =
      outcome.retry_after ? base::net::RetryAfterSeconds(*outcome.retry_after,
                                                         now / kTicksPerSecond)
                          : std::nullopt;
  const int64_t seconds =
      std::min(asked.value_or(kDefaultSeconds), kLongestSeconds);
  const int64_t end = now + seconds * kTicksPerSecond;
  const std::string service = ServiceOf(url);
  std::lock_guard lock(mutex_);
  ends_[service] = end;
  logged_.insert(service);
  TLV_LOG(base::logging::kWarn,
          "ServicePauses {} answered HTTP status {} (Retry-After: {}); "
          "nothing more is sent to it for {} s, until {}",
          service, outcome.status, outcome.retry_after.value_or("none"),
          seconds, TimeText(end));
  if (store_)
    store_->RecordPause(service, end);
}

}  // namespace tlv
