#include "base/logging/formatter.h"

#include <regex>
#include <string>
#include <typeinfo>
#include <vector>

#include "base/utils/sys_util.h"
#include "gtest/gtest.h"
#include "test/scoped_time_zone.h"

namespace base {
namespace {

using logging::LogRecord;

std::string ToString(const logging::LogBuffer& buffer) {
  return std::string(buffer.data(), buffer.size());
}

// 2024-03-05T09:04:07.006Z and 9,999 ticks more, which must not round up.
constexpr int64_t kInstantTicks = 17'096'294'470'069'999;

// Runs with local time pinned to UTC, so the local time field of a known
// instant is known too.
class TelvaneLineTest : public testing::Test {
 protected:
  test::ScopedTimeZone zone_{"UTC0"};

  // The line's text up to and including the level's ':'.
  static std::string Prefix() {
    return "[Telvane:" + std::to_string(utils::GetProcessId()) + ":" +
           std::to_string(utils::GetThreadId()) +
           ":0305/090407.006:1709629447006:";
  }

  static std::string Format(const LogRecord& record) {
    Time time = Time::FromTicks(kInstantTicks);
    logging::LogBuffer out;
    FormatTelvaneLine(record, time, out);
    return ToString(out);
  }
};

TEST_F(TelvaneLineTest, PrintsLevelFileAndMessage) {
  struct Case {
    int32_t level;
    const char* file;
    int32_t line;
    const char* message;
    std::string tail;  // everything after Prefix()
  };
  const std::vector<Case> cases = {
      {logging::kTrace, "name.ext", 88, "m", "TRACE:name.ext(88)] m\n"},
      {logging::kDebug, "a.cc", 1, "m", "DEBUG:a.cc(1)] m\n"},
      {logging::kInfo, "a.cc", 1, "m", "INFO:a.cc(1)] m\n"},
      {logging::kWarn, "a.cc", 1, "m", "WARN:a.cc(1)] m\n"},
      {logging::kError, "a.cc", 1, "m", "ERROR:a.cc(1)] m\n"},
      {logging::kFatal, "a.cc", 1, "m", "FATAL:a.cc(1)] m\n"},
      // Without a file, the line number goes too; the level keeps its ':'.
      {logging::kInfo, "", 17, "no file", "INFO:] no file\n"},
      {logging::kInfo, "a.cc", 2, "", "INFO:a.cc(2)] \n"},
      // Only the format text is interpreted, never the message.
      {logging::kInfo, "a.cc", 3, "{} {0} %s", "INFO:a.cc(3)] {} {0} %s\n"},
      // Line breaks in the message do not end the record's line.
      {logging::kError, "a.cc", 6, "<html>\r\n[Telvane:1:2] x\n",
       "ERROR:a.cc(6)] <html>\\r\\n[Telvane:1:2] x\\n\n"},
      // Levels beyond the name table print as numbers.
      {6, "a.cc", 4, "m", "6:a.cc(4)] m\n"},
      {-1, "a.cc", 5, "m", "-1:a.cc(5)] m\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    const LogRecord record{c.file,      c.line,  "ns::Function",
                           "DEDaveziz", c.level, c.message};
    EXPECT_EQ(Format(record), Prefix() + c.tail);
  }
}

TEST(TelvaneFormatterTest, StampsTheCurrentTime) {
  const int64_t before = Time::Now() / Time::kTicksPerMillisecond;
  logging::LogBuffer out;
  TelvaneFormatter().Format({"f.cc", 9, "f", "n", logging::kWarn, "hello"},
                            out);
  const int64_t after = Time::Now() / Time::kTicksPerMillisecond;

  const std::string line = ToString(out);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
      line, match,
      std::regex(
          R"(\[Telvane:\d+:\d+:\d{4}/\d{6}\.\d{3}:(\d+):WARN:f\.cc\(9\)\] hello\n)")))
      << line;
  const int64_t stamped = std::stoll(match[1].str());
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);
}

TEST(DefaultFormatterTest, WritesOnlyTheMessage) {
  logging::LogBuffer out;
  DefaultFormatter().Format({"f.cc", 9, "f", "n", logging::kError, "{} x"},
                            out);
  EXPECT_EQ(ToString(out), "{} x\n");
}

TEST(FormatterTest, CloneIsTheSameKind) {
  const TelvaneFormatter telvane;
  const DefaultFormatter plain;
  for (const Formatter* formatter : {static_cast<const Formatter*>(&telvane),
                                     static_cast<const Formatter*>(&plain)}) {
    const std::unique_ptr<Formatter> clone = formatter->Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(typeid(*clone), typeid(*formatter));
  }
}

}  // namespace
}  // namespace base
