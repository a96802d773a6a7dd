#ifndef TIMER_TIMER_SERVICE_H_
#define TIMER_TIMER_SERVICE_H_

#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>

#include "base/utils/time.h"

namespace tlv {

// A clock corrected by the server's time. A player's clock may be set wrong,
// and the service checks request times; so when the server time given at
// launch differs from the local clock by more than five minutes, the service
// anchors it to the monotonic clock and from then on advances it with the
// monotonic clock alone: later changes of the local clock do not move it.
// Otherwise the corrected clock is the local clock.
//
// Any thread may call CurrentTimes.
class TimerService final {
 public:
  struct Times {
    base::Time local;
    base::Time corrected;
  };

  // Injected clocks so tests can move the wall clock; production uses
  // base::Time::Now and base::MonotonicNanoseconds.
  struct Clocks {
    std::function<int64_t()> wall_ticks;    // 100-ns ticks since 1970
    std::function<int64_t()> monotonic_ns;  // never negative, never goes back
  };

  // The largest server time whose ticks fit 64 bits.
  static constexpr int64_t kMaxServerTimeMs =
      std::numeric_limits<int64_t>::max() / base::Time::kTicksPerMillisecond;

  TimerService();  // real clocks
  explicit TimerService(Clocks clocks);
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;

  // Corrects the clock by server_time_ms (milliseconds since 1970) when the
  // local clock is off by more than five minutes. A later call within five
  // minutes of the local clock keeps an earlier correction; one beyond
  // replaces it. A time that is not positive, or whose ticks do not fit
  // 64 bits, is refused with an ERROR line.
  void StartWithServerTime(int64_t server_time_ms);

  // Both clocks from one consistent view: without a correction, the two
  // values are the same wall-clock reading. The corrected clock advances in
  // whole microseconds and stops at the last representable instant.
  Times CurrentTimes();

 private:
  void CorrectTime_(int64_t server_time_ms);

  const Clocks clocks_;

  std::mutex mutex_;
  // Guarded by mutex_.
  base::Time server_time_;  // the server's time at the correction
  int64_t anchor_ns_ = 0;   // the monotonic clock at the correction
  bool corrected_ = false;
};

}  // namespace tlv

#endif  // TIMER_TIMER_SERVICE_H_
