#include "report/service_pauses.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/utils/string_util.h"
#include "base/utils/time.h"
#include "gtest/gtest.h"
#include "test/process_log.h"

namespace tlv {
namespace {

constexpr int64_t kSecond = base::Time::kTicksPerSecond;

// What a later run would find.
class MemoryStore final : public ServicePauses::Store {
 public:
  std::optional<int64_t> PauseEnd(const std::string& service) override {
    const auto found = ends.find(service);
    return found == ends.end() ? std::nullopt
                               : std::optional<int64_t>(found->second);
  }
  void RecordPause(const std::string& service, int64_t end) override {
    ends[service] = end;
  }

  std::map<std::string, int64_t> ends;
};

// Seconds from now to the end of url's pause; none without one.
std::optional<int64_t> SecondsPaused(const std::string& url) {
  const std::optional<base::Time> end =
      ServicePauses::Instance().PausedUntil(url);
  if (!end)
    return std::nullopt;
  return (end->ticks() - base::Time::Now() + kSecond / 2) / kSecond;
}

// A 429 or 503 starts a pause of its Retry-After, 60 s without a readable
// one, an hour at most; other answers start none.
TEST(ServicePausesTest, BusyAnswerStartsAPauseOfItsRetryAfter) {
  MemoryStore store;
  const ServicePauses::ScopedStore scoped(store);
  base::Time in_half_a_minute =
      base::Time::FromTicks(base::Time::Now() + 30 * kSecond);
  const base::TimeFields& utc = in_half_a_minute.UtcFields();
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                          "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                            "May", "Jun", "Jul", "Aug",
                                            "Sep", "Oct", "Nov", "Dec"};
  const std::string date = base::utils::StringPrintf(
      "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.weekday], utc.day,
      kMonths[utc.month - 1], utc.year, utc.hour, utc.minute, utc.second);
  struct Case {
    int32_t status;
    std::optional<std::string> retry_after;
    std::optional<int64_t> seconds;
  };
  const std::vector<Case> cases = {
      {503, "120", 120},
      {429, std::nullopt, 60},
      {503, "soon", 60},
      {503, "99999999", 3600},
      {503, date, 30},
      {503, "0", std::nullopt},
      {500, "120", std::nullopt},
      {413, std::nullopt, std::nullopt},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    const std::string url = "http://service.test/" + std::to_string(i);
    base::net::HTTPAttemptOutcome outcome;
    outcome.status = c.status;
    outcome.retry_after = c.retry_after;
    ServicePauses::Instance().Heed(url + "?topic=x", outcome);
    const std::optional<int64_t> seconds = SecondsPaused(url);
    ASSERT_EQ(seconds.has_value(), c.seconds.has_value());
    if (seconds) {
      EXPECT_NEAR(*seconds, *c.seconds, 1);
      EXPECT_NEAR(store.ends.at(url), base::Time::Now() + *c.seconds * kSecond,
                  2 * kSecond);
    }
  }
}

// A pause that an earlier run recorded holds for this one, once logged; one
// that lies more than an hour ahead, as after the clock was set back, or
// that is over, holds no more. A pause is its service's alone.
TEST(ServicePausesTest, RecordedPauseHoldsUntilItsEnd) {
  test::ProcessLog log;
  MemoryStore store;
  const int64_t now = base::Time::Now();
  store.ends = {{"http://a.test/upload", now + 100 * kSecond},
                {"http://b.test/upload", now + 2 * 3600 * kSecond},
                {"http://c.test/upload", now - kSecond}};
  const ServicePauses::ScopedStore scoped(store);
  log.Take();

  EXPECT_NEAR(*SecondsPaused("http://a.test/upload"), 100, 1);
  const std::string lines = log.Take();
  EXPECT_EQ(
      lines.rfind("3 tlv::ServicePauses::PausedUntil: ServicePauses "
                  "http://a.test/upload asked to wait; nothing is sent "
                  "to it before " +
                      base::Time::FromTicks(now + 100 * kSecond).ToIso8601() +
                      "\n",
                  0),
      0u)
      << lines;
  EXPECT_TRUE(SecondsPaused("http://a.test/upload?q=1"));
  EXPECT_EQ(log.Take(), "");

  EXPECT_FALSE(SecondsPaused("http://b.test/upload"));
  EXPECT_FALSE(SecondsPaused("http://c.test/upload"));
  EXPECT_FALSE(SecondsPaused("http://a.test/events"));
}

}  // namespace
}  // namespace tlv
