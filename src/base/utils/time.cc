#include "base/utils/time.h"

#include <ctime>

#include "base/utils/string_util.h"

namespace base {

TimeFields FieldsFromBrokenDown(const tm& broken_down) {
  TimeFields fields;
  fields.year = broken_down.tm_year + 1900;
  fields.month = broken_down.tm_mon + 1;
  fields.day = broken_down.tm_mday;
  fields.hour = broken_down.tm_hour;
  fields.minute = broken_down.tm_min;
  fields.second = broken_down.tm_sec;
  fields.weekday = broken_down.tm_wday;
  return fields;
}

namespace {

int64_t FloorDivide(int64_t value, int64_t divisor) {
  const int64_t quotient = value / divisor;
  return (value % divisor < 0) ? quotient - 1 : quotient;
}

}  // namespace

Time::Time() : ticks_(Now()) {}

// static
Time Time::FromTicks(int64_t ticks) {
  return Time(ticks);
}

const TimeFields& Time::LocalFields() {
  return View(local_, true);
}

const TimeFields& Time::UtcFields() {
  return View(utc_, false);
}

std::string Time::ToIso8601() {
  const TimeFields& f = UtcFields();
  return utils::StringPrintf("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", f.year,
                             f.month, f.day, f.hour, f.minute, f.second,
                             f.millisecond);
}

const TimeFields& Time::View(CachedView& view, bool local) {
  if (view.computed && view.ticks == ticks_) {
    return view.fields;
  }
  // Whole milliseconds and seconds are counted down, not toward zero, so a
  // time before 1970 reads as the second it lies in with a millisecond of
  // 0-999 (-1.5 s is 23:59:58.500); from 1970 on both ways agree.
  const int64_t milliseconds = FloorDivide(ticks_, kTicksPerMillisecond);
  const int64_t seconds = FloorDivide(milliseconds, 1000);
  view.fields = TimeFields();
  if (BreakDownSeconds(seconds, local, view.fields)) {
    view.fields.millisecond =
        static_cast<int32_t>(milliseconds - seconds * 1000);
  }
  view.computed = true;
  view.ticks = ticks_;
  return view.fields;
}

}  // namespace base
