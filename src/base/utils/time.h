#ifndef BASE_UTILS_TIME_H_
#define BASE_UTILS_TIME_H_

#include <cstdint>
#include <string>

struct tm;

namespace base {

// A broken-down point in time. Every member is a full value: the year is the
// calendar year (2024), the month runs 1-12, the weekday 0-6 with 0 Sunday.
struct TimeFields {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
  int32_t weekday = 0;
};

// The fields of the C library's broken-down time tm; milliseconds are 0.
TimeFields FieldsFromBrokenDown(const tm& broken_down);

// A point in time: signed 64-bit ticks of 100 ns since 1970-01-01 UTC.
//
// A default-constructed Time holds the current time, not zero. The local and
// UTC views are computed on first use and cached together with the ticks they
// were computed for, so asking again is cheap; copying a Time copies the
// caches. Reading a view updates the cache, so one Time must not be read from
// two threads at once.
class Time {
 public:
  static constexpr int64_t kTicksPerMillisecond = 10'000;
  static constexpr int64_t kTicksPerSecond = 10'000'000;

  Time();

  // The current system time (UTC) in ticks since 1970.
  static int64_t Now();
  static Time FromTicks(int64_t ticks);

  int64_t ticks() const { return ticks_; }

  // Integer divisions of the ticks, truncating toward zero.
  int64_t ToSeconds() const { return ticks_ / kTicksPerSecond; }
  int64_t ToMilliseconds() const { return ticks_ / kTicksPerMillisecond; }
  int64_t ToMicroseconds() const { return ticks_ / 10; }

  const TimeFields& LocalFields();
  const TimeFields& UtcFields();

  // "YYYY-MM-DDTHH:MM:SS.mmmZ" of the UTC view.
  std::string ToIso8601();

 private:
  struct CachedView {
    TimeFields fields;
    bool computed = false;
    int64_t ticks = 0;
  };

  explicit Time(int64_t ticks) : ticks_(ticks) {}
  const TimeFields& View(CachedView& view, bool local);
  // Fills year to second and weekday for seconds since 1970 with the C
  // library's broken-down time; false when it cannot represent them.
  // Implemented per platform.
  static bool BreakDownSeconds(int64_t seconds, bool local, TimeFields& fields);

  int64_t ticks_;
  CachedView local_;
  CachedView utc_;
};

// The monotonic clock in nanoseconds since an unspecified start. It never
// goes back and does not follow changes of the wall clock.
int64_t MonotonicNanoseconds();

}  // namespace base

#endif  // BASE_UTILS_TIME_H_
