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
  fields.year = broken_down.tm_year + 1900;
  fields.month = broken_down.tm_mon + 1;
  fields.day = broken_down.tm_mday;
  fields.hour = broken_down.tm_hour;
  fields.minute = broken_down.tm_min;
  fields.second = broken_down.tm_sec;
  fields.weekday = broken_down.tm_wday;
  return true;
}

int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace base
