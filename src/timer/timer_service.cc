#include "timer/timer_service.h"

#include <limits>
#include <utility>

#include "base/logging/logging.h"

namespace tlv {

namespace {

// How far the local clock may be off before the server's time replaces it.
constexpr int64_t kMaxClockErrorMs = 5 * 60 * 1000;

}  // namespace

TimerService::TimerService()
    : TimerService(Clocks{&base::Time::Now, &base::MonotonicNanoseconds}) {}

TimerService::TimerService(Clocks clocks)
    : clocks_(std::move(clocks)),
      server_time_(base::Time::FromTicks(clocks_.wall_ticks())) {}

void TimerService::StartWithServerTime(int64_t server_time_ms) {
  // A time too large for the tick count is as unusable as a missing one.
  if (server_time_ms <= 0 || server_time_ms > kMaxServerTimeMs) {
    TLV_LOG(base::logging::kError, "TimerService::StartWithServerTime failed");
    return;
  }
  CorrectTime_(server_time_ms);
}

void TimerService::CorrectTime_(int64_t server_time_ms) {
  // Neither side is further than kMaxServerTimeMs from zero, so the
  // difference cannot overflow.
  const int64_t local_ms =
      clocks_.wall_ticks() / base::Time::kTicksPerMillisecond;
  const int64_t difference = local_ms - server_time_ms;
  if (difference > kMaxClockErrorMs || difference < -kMaxClockErrorMs) {
    std::lock_guard lock(mutex_);
    corrected_ = true;
    server_time_ = base::Time::FromTicks(server_time_ms *
                                         base::Time::kTicksPerMillisecond);
    anchor_ns_ = clocks_.monotonic_ns();
    return;
  }
  TLV_LOG(base::logging::kInfo, "TimerService no need to correct");
}

TimerService::Times TimerService::CurrentTimes() {
  std::lock_guard lock(mutex_);
  const base::Time local = base::Time::FromTicks(clocks_.wall_ticks());
  if (!corrected_) {
    return {local, local};
  }
  // Two readings of a clock that never goes negative differ by less than
  // 2^63 ns, and that many whole microseconds in ticks fit as well.
  const int64_t elapsed_ticks =
      (clocks_.monotonic_ns() - anchor_ns_) / 1000 * 10;
  const int64_t server_ticks = server_time_.ticks();
  constexpr int64_t kMaxTicks = std::numeric_limits<int64_t>::max();
  const int64_t corrected_ticks = elapsed_ticks > kMaxTicks - server_ticks
                                      ? kMaxTicks
                                      : server_ticks + elapsed_ticks;
  return {local, base::Time::FromTicks(corrected_ticks)};
}

}  // namespace tlv
