#include "base/utils/time.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "test/scoped_time_zone.h"

namespace base {
namespace {

// 2024-03-05T09:04:07.006Z, a Tuesday, plus 5 ticks below the millisecond.
constexpr int64_t kMarch5 = 17'096'294'470'060'005;

TEST(TimeTest, DivisionsTruncateTowardZero) {
  struct Case {
    int64_t ticks;
    int64_t seconds;
    int64_t milliseconds;
    int64_t microseconds;
  };
  const std::vector<Case> cases = {
      {0, 0, 0, 0},
      {15'009'999, 1, 1500, 1'500'999},
      {-15'009'999, -1, -1500, -1'500'999},
      {kMarch5, 1'709'629'447, 1'709'629'447'006, 1'709'629'447'006'000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    const Time time = Time::FromTicks(c.ticks);
    EXPECT_EQ(time.ticks(), c.ticks);
    EXPECT_EQ(time.ToSeconds(), c.seconds);
    EXPECT_EQ(time.ToMilliseconds(), c.milliseconds);
    EXPECT_EQ(time.ToMicroseconds(), c.microseconds);
  }
}

TEST(TimeTest, ToIso8601) {
  struct Case {
    int64_t ticks;
    const char* text;
  };
  const std::vector<Case> cases = {
      {0, "1970-01-01T00:00:00.000Z"},
      {15'000'000, "1970-01-01T00:00:01.500Z"},
      {kMarch5, "2024-03-05T09:04:07.006Z"},
      // Before 1970 a time reads as the second it lies in.
      {-15'000'000, "1969-12-31T23:59:58.500Z"},
      {-1, "1969-12-31T23:59:59.999Z"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Time::FromTicks(c.ticks).ToIso8601(), c.text);
  }
}

TEST(TimeTest, UtcFieldsBeforeTheEpoch) {
  Time time = Time::FromTicks(-15'000'000);
  const TimeFields& fields = time.UtcFields();
  EXPECT_EQ(fields.year, 1969);
  EXPECT_EQ(fields.month, 12);
  EXPECT_EQ(fields.day, 31);
  EXPECT_EQ(fields.hour, 23);
  EXPECT_EQ(fields.minute, 59);
  EXPECT_EQ(fields.second, 58);
  EXPECT_EQ(fields.millisecond, 500);
  EXPECT_EQ(fields.weekday, 3);
}

TEST(TimeTest, ViewsFollowTheTicksTheyWereComputedFor) {
  Time time = Time::FromTicks(0);
  EXPECT_EQ(time.UtcFields().year, 1970);

  const Time copy = time;
  time = Time::FromTicks(kMarch5);
  EXPECT_EQ(time.UtcFields().year, 2024);
  EXPECT_EQ(time.UtcFields().millisecond, 6);

  Time copied_back = copy;
  EXPECT_EQ(copied_back.UtcFields().year, 1970);
  EXPECT_EQ(copied_back.ToIso8601(), "1970-01-01T00:00:00.000Z");
}

TEST(TimeTest, NowIsAfterTheTimeThisWasWritten) {
  EXPECT_GT(Time::Now(), kMarch5);
  EXPECT_GT(Time().ticks(), kMarch5);
}

TEST(TimeTest, MonotonicClockDoesNotGoBack) {
  const int64_t first = MonotonicNanoseconds();
  EXPECT_GE(MonotonicNanoseconds(), first);
}

TEST(LocalTimeTest, LocalFieldsInFixedZones) {
  test::ScopedTimeZone zone("UTC0");
  struct Case {
    const char* zone;
    TimeFields expected;
  };
  const std::vector<Case> cases = {
      {"UTC0", {2024, 3, 5, 9, 4, 7, 6, 2}},
      {"JST-9", {2024, 3, 5, 18, 4, 7, 6, 2}},
      // Ten hours west crosses back into the previous day.
      {"HST10", {2024, 3, 4, 23, 4, 7, 6, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    zone.Set(c.zone);
    Time time = Time::FromTicks(kMarch5);
    const TimeFields& fields = time.LocalFields();
    EXPECT_EQ(fields.year, c.expected.year);
    EXPECT_EQ(fields.month, c.expected.month);
    EXPECT_EQ(fields.day, c.expected.day);
    EXPECT_EQ(fields.hour, c.expected.hour);
    EXPECT_EQ(fields.minute, c.expected.minute);
    EXPECT_EQ(fields.second, c.expected.second);
    EXPECT_EQ(fields.millisecond, c.expected.millisecond);
    EXPECT_EQ(fields.weekday, c.expected.weekday);
  }
}

TEST(LocalTimeTest, LocalAndUtcViewsAreCachedApart) {
  test::ScopedTimeZone zone("JST-9");
  Time time = Time::FromTicks(kMarch5);
  EXPECT_EQ(time.LocalFields().hour, 18);
  EXPECT_EQ(time.UtcFields().hour, 9);
  EXPECT_EQ(time.LocalFields().hour, 18);
}

}  // namespace
}  // namespace base
