#include "timer/timer_service.h"

#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "test/process_log.h"

namespace tlv {
namespace {

constexpr char kNoNeedToCorrect[] =
    "2 tlv::TimerService::CorrectTime_: TimerService no need to correct\n";
constexpr char kStartFailed[] =
    "4 tlv::TimerService::StartWithServerTime: "
    "TimerService::StartWithServerTime failed\n";

constexpr int64_t kHourMs = 3'600'000;

// 2024-03-05T09:04:07.006Z and half a millisecond: the local clock reads
// whole milliseconds, so the comparison with the server time must not see
// the half.
constexpr int64_t kWallMs = 1'709'629'447'006;
constexpr int64_t kWallTicks =
    kWallMs * base::Time::kTicksPerMillisecond + 5'000;

// Clocks the test sets by hand. Each wall reading moves the wall clock on by
// one tick, so a value that should come from one reading but comes from two
// shows.
struct FakeClocks {
  TimerService::Clocks Get() {
    return {[this] { return wall_ticks++; }, [this] { return monotonic_ns; }};
  }

  int64_t wall_ticks = kWallTicks;
  int64_t monotonic_ns = 42'000'000'000;
};

class TimerServiceTest : public testing::Test {
 protected:
  // What was logged since the previous call, or since the test began.
  std::string TakeLog() { return log_.Take(); }

 private:
  test::ProcessLog log_;
};

TEST_F(TimerServiceTest, CorrectsOnlyWhenOffByMoreThanFiveMinutes) {
  struct Case {
    int64_t offset_ms;  // server time minus local time
    bool corrects;
  };
  const std::vector<Case> cases = {
      {0, false},       {300'000, false}, {-300'000, false}, {300'001, true},
      {-300'001, true}, {kHourMs, true},  {-kHourMs, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset_ms);
    FakeClocks clocks;
    TimerService service(clocks.Get());
    const int64_t server_ms = kWallMs + c.offset_ms;
    service.StartWithServerTime(server_ms);
    const TimerService::Times times = service.CurrentTimes();
    EXPECT_EQ(times.local.ticks(), clocks.wall_ticks - 1);
    if (c.corrects) {
      EXPECT_EQ(times.corrected.ticks(),
                server_ms * base::Time::kTicksPerMillisecond);
      EXPECT_EQ(TakeLog(), "");
    } else {
      EXPECT_EQ(times.corrected.ticks(), times.local.ticks());
      EXPECT_EQ(TakeLog(), kNoNeedToCorrect);
    }
  }
}

TEST_F(TimerServiceTest, RefusesTimesThatAreNotPositiveOrDoNotFitTheTicks) {
  const std::vector<int64_t> refused = {
      0,
      -1,
      std::numeric_limits<int64_t>::min(),
      TimerService::kMaxServerTimeMs + 1,
      std::numeric_limits<int64_t>::max(),
  };
  for (const int64_t server_ms : refused) {
    SCOPED_TRACE(server_ms);
    FakeClocks clocks;
    TimerService service(clocks.Get());
    service.StartWithServerTime(server_ms);
    EXPECT_EQ(TakeLog(), kStartFailed);
    const TimerService::Times times = service.CurrentTimes();
    EXPECT_EQ(times.local.ticks(), clocks.wall_ticks - 1);
    EXPECT_EQ(times.corrected.ticks(), times.local.ticks());
  }
}

TEST_F(TimerServiceTest, CorrectedClockFollowsOnlyTheMonotonicClock) {
  FakeClocks clocks;
  TimerService service(clocks.Get());
  const int64_t anchor_ns = clocks.monotonic_ns;
  service.StartWithServerTime(1000);
  EXPECT_EQ(service.CurrentTimes().corrected.ToIso8601(),
            "1970-01-01T00:00:01.000Z");

  // Setting the machine's clock back an hour moves only the local time.
  clocks.wall_ticks -= kHourMs * base::Time::kTicksPerMillisecond;
  struct Case {
    int64_t elapsed_ns;
    int64_t elapsed_ticks;  // whole microseconds
  };
  const std::vector<Case> cases = {
      {0, 0},
      {999, 0},
      {1000, 10},
      {1999, 10},
      {1'500'999, 15'000},
      {kHourMs * 1'000'000, kHourMs * base::Time::kTicksPerMillisecond},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.elapsed_ns);
    clocks.monotonic_ns = anchor_ns + c.elapsed_ns;
    const TimerService::Times times = service.CurrentTimes();
    EXPECT_EQ(times.local.ticks(), clocks.wall_ticks - 1);
    EXPECT_EQ(times.corrected.ticks(), 10'000'000 + c.elapsed_ticks);
  }
  EXPECT_EQ(TakeLog(), "");
}

TEST_F(TimerServiceTest, LaterStartsKeepOrReplaceTheCorrection) {
  FakeClocks clocks;
  TimerService service(clocks.Get());
  constexpr int64_t kTicksPerHour = kHourMs * base::Time::kTicksPerMillisecond;
  constexpr int64_t kTicksPerSecond = base::Time::kTicksPerSecond;
  service.StartWithServerTime(kWallMs + kHourMs);
  clocks.monotonic_ns += 1'000'000'000;

  // Close to the local clock: the correction stays.
  service.StartWithServerTime(kWallMs);
  EXPECT_EQ(TakeLog(), kNoNeedToCorrect);
  EXPECT_EQ(service.CurrentTimes().corrected.ticks(),
            kWallMs * base::Time::kTicksPerMillisecond + kTicksPerHour +
                kTicksPerSecond);

  // Far from it: the new time replaces the correction and its anchor.
  service.StartWithServerTime(kWallMs - 2 * kHourMs);
  EXPECT_EQ(TakeLog(), "");
  EXPECT_EQ(service.CurrentTimes().corrected.ticks(),
            kWallMs * base::Time::kTicksPerMillisecond - 2 * kTicksPerHour);
  clocks.monotonic_ns += 1'000'000'000;
  EXPECT_EQ(service.CurrentTimes().corrected.ticks(),
            kWallMs * base::Time::kTicksPerMillisecond - 2 * kTicksPerHour +
                kTicksPerSecond);
}

TEST_F(TimerServiceTest, CorrectedClockStopsAtTheLastRepresentableInstant) {
  FakeClocks clocks;
  TimerService service(clocks.Get());
  service.StartWithServerTime(TimerService::kMaxServerTimeMs);
  EXPECT_EQ(service.CurrentTimes().corrected.ticks(),
            TimerService::kMaxServerTimeMs * base::Time::kTicksPerMillisecond);
  clocks.monotonic_ns += 1'000'000'000;
  EXPECT_EQ(service.CurrentTimes().corrected.ticks(),
            std::numeric_limits<int64_t>::max());
}

TEST_F(TimerServiceTest, RealClocks) {
  TimerService service;
  const TimerService::Times before = service.CurrentTimes();
  EXPECT_EQ(before.corrected.ticks(), before.local.ticks());

  const int64_t server_ms = before.local.ToMilliseconds() + kHourMs;
  service.StartWithServerTime(server_ms);
  const TimerService::Times after = service.CurrentTimes();
  EXPECT_GE(after.corrected.ticks(),
            server_ms * base::Time::kTicksPerMillisecond);
  EXPECT_LT(after.local.ticks(), after.corrected.ticks());
}

// Readers on other threads see either the local clock twice or a corrected
// clock, never a half-made correction.
TEST_F(TimerServiceTest, ReadersOnOtherThreadsSeeOneConsistentView) {
  TimerService service;
  const int64_t server_ms =
      base::Time::Now() / base::Time::kTicksPerMillisecond + 10 * kHourMs;
  const int64_t server_ticks = server_ms * base::Time::kTicksPerMillisecond;
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&service, server_ticks] {
      for (int read = 0; read < 1000; ++read) {
        const TimerService::Times times = service.CurrentTimes();
        if (times.corrected.ticks() != times.local.ticks()) {
          EXPECT_GE(times.corrected.ticks(), server_ticks);
        }
      }
    });
  }
  service.StartWithServerTime(server_ms);
  for (std::thread& reader : readers) {
    reader.join();
  }
}

}  // namespace
}  // namespace tlv
