#include "base/utils/time.h"

#include <time.h>

namespace base {

// static
int64_t Time::Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * kTicksPerSecond + now.tv_nsec / 100;
}

// static
bool Time::BreakDownSeconds(int64_t seconds, bool local, TimeFields& fields) {
  const time_t since_epoch = static_cast<time_t>(seconds);
  tm broken_down{};
  if (!(local ? localtime_r(&since_epoch, &broken_down)
              : gmtime_r(&since_epoch, &broken_down))) {
    return false;
  }
  fields = FieldsFromBrokenDown(broken_down);
  return true;
}

int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace base
