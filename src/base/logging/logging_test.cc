#include "base/logging/logging.h"

#include <memory>
#include <string>
#include <vector>

#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"

namespace base::logging {
namespace {

TEST(SourceFileNameTest, CutsAfterTheLastSeparator) {
  struct Case {
    std::string_view path;
    std::string_view expected;
  };
  const std::vector<Case> cases = {
      {"a/b/name.ext", "name.ext"},
      {"C:\\src\\base\\name.ext", "name.ext"},
      // '/' is looked for first: a later '\\' does not count.
      {"a/b\\name.ext", "b\\name.ext"},
      {"a\\b/name.ext", "name.ext"},
      {"name.ext", "name.ext"},
      {"dir/", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SourceFileName(c.path), c.expected) << c.path;
  }
}

TEST(QualifiedFunctionNameTest, KeepsOnlyTheQualifiedName) {
  struct Case {
    std::string_view pretty;
    std::string_view expected;
  };
  // Texts as g++ writes them.
  const std::vector<Case> cases = {
      {"int main(int, char**)", "main"},
      {"void tlv::TimerService::CorrectTime_(int64_t)",
       "tlv::TimerService::CorrectTime_"},
      {"static std::map<int, int> ns::A::S()", "ns::A::S"},
      {"const char* ns::A::Name() const", "ns::A::Name"},
      {"ns::A::A()", "ns::A::A"},
      {"virtual ns::A::~A()", "ns::A::~A"},
      {"void ns::{anonymous}::Helper()", "ns::{anonymous}::Helper"},
      // Templates keep their arguments as written; the bindings go.
      {"void ns::B<T>::M() [with T = int]", "ns::B<T>::M"},
      {"int ns::B<T>::N(std::vector<T>) [with T = int]", "ns::B<T>::N"},
      {"std::function<void(int)> ns::F(T) [with T = int]", "ns::F"},
      // Operators keep their symbol, even where it looks like a bracket.
      {"bool ns::A::operator()(int, int)", "ns::A::operator()"},
      {"bool ns::A::operator<(const ns::A&) const", "ns::A::operator<"},
      {"ns::A& ns::A::operator<<(int)", "ns::A::operator<<"},
      {"bool ns::A::operator->() const", "ns::A::operator->"},
      {"ns::A::operator bool() const", "ns::A::operator bool"},
      {"static void* ns::A::operator new(size_t)", "ns::A::operator new"},
      {"int ns::A::operator_count()", "ns::A::operator_count"},
      // Lambdas and local classes report the function around them.
      {"ns::A::Run()::<lambda(int)>", "ns::A::Run"},
      {"main(int, char**)::<lambda()>", "main"},
      {"void ns::F()::Local::X()", "ns::F"},
      // Texts whose name cannot be told are kept whole.
      {"const char* (* ns::A::FP())(int)", "const char* (* ns::A::FP())(int)"},
      {"ns::A::Run", "ns::A::Run"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QualifiedFunctionName(c.pretty), c.expected) << c.pretty;
  }
}

// Keeps every line it is given.
class RecordingSink final : public sinks::Sink {
 public:
  void Log(std::shared_ptr<const LogBuffer> line) override {
    lines.push_back(std::move(line));
  }
  void Flush() override {}

  std::vector<std::shared_ptr<const LogBuffer>> lines;
};

// Prints every field of the record, so a test sees what a call site put in.
class FieldsFormatter final : public Formatter {
 public:
  void Format(const LogRecord& record, LogBuffer& out) const override {
    fmt::format_to(std::back_inserter(out), "{}|{}|{}|{}|{}|{}", record.file,
                   record.line, record.function, record.logger_name,
                   record.level, record.message);
  }
  std::unique_ptr<Formatter> Clone() const override {
    return std::make_unique<FieldsFormatter>();
  }
};

std::string ToString(const LogBuffer& buffer) {
  return std::string(buffer.data(), buffer.size());
}

class LoggerTest : public testing::Test {
 protected:
  LoggerTest() : logger_("test", {first_, second_}) {
    logger_.SetFormatter(std::make_unique<FieldsFormatter>());
  }

  // The lines the first sink received, as text.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& line : first_->lines) {
      lines.push_back(ToString(*line));
    }
    return lines;
  }

  const std::shared_ptr<RecordingSink> first_ =
      std::make_shared<RecordingSink>();
  const std::shared_ptr<RecordingSink> second_ =
      std::make_shared<RecordingSink>();
  VariadicLogger logger_;
};

struct Widget {
  // Returns the line of its log call.
  static int Report(VariadicLogger* logger, int count) {
    const int line = __LINE__ + 1;
    TLV_LOG_TO(logger, kWarn, "{} items", count);
    return line;
  }
};

TEST_F(LoggerTest, MacroRecordsTheCallSite) {
  const int line = Widget::Report(&logger_, 7);
  const std::vector<std::string> expected = {
      "logging_test.cc|" + std::to_string(line) +
      "|base::logging::{anonymous}::Widget::Report|test|3|7 items"};
  EXPECT_EQ(Lines(), expected);
}

TEST_F(LoggerTest, EverySinkSharesTheSameLine) {
  TLV_LOG_TO(&logger_, kInfo, "one");
  TLV_LOG_TO(&logger_, kInfo, "two");
  ASSERT_EQ(first_->lines.size(), 2u);
  ASSERT_EQ(second_->lines.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(first_->lines[i], second_->lines[i]);
  }
}

TEST_F(LoggerTest, FilteredCallsEvaluateNothing) {
  struct Case {
    int32_t logger_level;
    int32_t call_level;
    bool written;
  };
  const std::vector<Case> cases = {
      {kInfo, kDebug, false}, {kInfo, kInfo, true},   {kInfo, kFatal, true},
      {kError, kWarn, false}, {kTrace, kTrace, true}, {kFatal, kFatal, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.logger_level << " " << c.call_level);
    first_->lines.clear();
    logger_.set_level(c.logger_level);
    int evaluated = 0;
    TLV_LOG_TO(&logger_, c.call_level, "{}", ++evaluated);
    EXPECT_EQ(evaluated, c.written ? 1 : 0);
    EXPECT_EQ(first_->lines.size(), c.written ? 1u : 0u);
  }
}

TEST(LoggerWithoutSinksTest, EvaluatesNothing) {
  VariadicLogger logger("nowhere", {});
  logger.set_level(kTrace);
  int evaluated = 0;
  TLV_LOG_TO(&logger, kFatal, "{}", ++evaluated);
  EXPECT_EQ(evaluated, 0);
}

TEST_F(LoggerTest, ArgumentsArePrintedVerbatim) {
  const std::vector<std::string> arguments = {
      "{}",
      "{0} {:x} }{",
      "",
      // Longer than the buffers' inline storage.
      std::string(1000, 'x'),
  };
  for (const std::string& argument : arguments) {
    first_->lines.clear();
    TLV_LOG_TO(&logger_, kInfo, "got {}", argument);
    ASSERT_EQ(first_->lines.size(), 1u);
    const std::string line = ToString(*first_->lines[0]);
    EXPECT_TRUE(line.ends_with("|got " + argument)) << line;
  }
}

TEST(MakeSinksTest, ConsoleFirstThenFile) {
  struct Case {
    int32_t destination;
    std::vector<std::string> kinds;
  };
  const std::vector<Case> cases = {
      {0, {}},
      {kDestinationFile, {"file"}},
      {kDestinationConsole, {"console"}},
      {kDestinationConsole | kDestinationFile, {"console", "file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.destination);
    test::ScopedTempDir dir;
    const utils::Path log_path = utils::Path(dir.path()).Join("telvane.log");

    const SinkList sinks = MakeSinks(c.destination, log_path);

    std::vector<std::string> kinds;
    for (const auto& sink : sinks) {
      if (dynamic_cast<sinks::ConsoleSink*>(sink.get())) {
        kinds.push_back("console");
      } else if (dynamic_cast<sinks::FileSink*>(sink.get())) {
        kinds.push_back("file");
      }
    }
    EXPECT_EQ(kinds, c.kinds);
    // Only a file sink creates the file.
    EXPECT_EQ(utils::PathExists(log_path),
              (c.destination & kDestinationFile) != 0);
  }
}

}  // namespace
}  // namespace base::logging
