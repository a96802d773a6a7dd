#ifndef REPORT_SERVICE_PAUSES_H_
#define REPORT_SERVICE_PAUSES_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "base/net/http_transport.h"
#include "base/utils/time.h"

namespace tlv {

// The services' word to wait. The kit runs on every player's machine, and
// the service it talks to is one service: when it sheds load, answering
// with 429 (Too Many Requests) or 503 (Service Unavailable), every player
// waits as long as it asks, its Retry-After (seconds or an HTTP date),
// kDefaultSeconds when it names none and never more than kLongestSeconds,
// so that a wrong answer from a proxy cannot silence a player for long.
// Until then nothing more is sent to that service, by this run or, through
// the store, by a later one: each run of the process is short, and the
// backlog of every player would otherwise meet a recovering service at
// once.
//
// A service is its URL without the query, so that the data-upload and the
// log-collection service pause apart even on one host and port. A pause's
// end is kept on the system clock; one that lies more than kLongestSeconds
// ahead (a clock set back since) is over. Any thread may ask.
class ServicePauses final {
 public:
  static constexpr int64_t kDefaultSeconds = 60;
  static constexpr int64_t kLongestSeconds = 60 * 60;

  // Keeps the pauses across runs: the job's delivery ledger.
  class Store {
   public:
    virtual ~Store() = default;
    // The end of service's last recorded pause; none without one.
    virtual std::optional<int64_t> PauseEnd(const std::string& service) = 0;
    virtual void RecordPause(const std::string& service, int64_t end) = 0;
  };

  // Sets the process's store for its lifetime, and takes it back.
  class ScopedStore final {
   public:
    explicit ScopedStore(Store& store);
    ScopedStore(const ScopedStore&) = delete;
    ScopedStore& operator=(const ScopedStore&) = delete;
    ~ScopedStore();
  };

  // The process's pauses.
  static ServicePauses& Instance();

  ServicePauses(const ServicePauses&) = delete;
  ServicePauses& operator=(const ServicePauses&) = delete;

  // When the service that url names may be sent to again: none when it may
  // now. The first time in the run that a service is found paused, logs why
  // and until when.
  std::optional<base::Time> PausedUntil(const std::string& url);

  // After a request to url that ended with outcome: an answer 429 or 503
  // starts the service's pause, which is logged and kept.
  void Heed(const std::string& url,
            const base::net::HTTPAttemptOutcome& outcome);

 private:
  ServicePauses() = default;

  std::mutex mutex_;
  Store* store_ = nullptr;               // weak; guarded by mutex_
  std::map<std::string, int64_t> ends_;  // base::Time ticks; mutex_
  std::set<std::string> logged_;         // guarded by mutex_
};

}  // namespace tlv

#endif  // REPORT_SERVICE_PAUSES_H_
