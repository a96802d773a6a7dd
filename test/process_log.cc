#include "test/process_log.h"

#include <fmt/format.h>

#include <iterator>
#include <memory>

#include "base/logging/formatter.h"
#include "base/logging/logging.h"
#include "base/utils/file_path.h"
#include "test/file_setup.h"
#include "test/scoped_temp_dir.h"

namespace test {

namespace {

class CallFormatter final : public base::Formatter {
 public:
  void Format(const base::logging::LogRecord& record,
              base::logging::LogBuffer& out) const override {
    fmt::format_to(std::back_inserter(out), "{} {}: {}\n", record.level,
                   record.function, record.message);
  }
  std::unique_ptr<base::Formatter> Clone() const override {
    return std::make_unique<CallFormatter>();
  }
};

std::string ReadLog() {
  // Removed at exit; the file sink opens the file for each line, so a line
  // logged after that is lost, not misplaced.
  static const ScopedTempDir dir;
  static const base::utils::Path path = [] {
    base::utils::Path log = base::utils::Path(dir.path()).Join("telvane.log");
    base::logging::LoggerRegistry& registry =
        base::logging::LoggerRegistry::Instance();
    registry.Init(base::logging::kTrace, base::logging::kDestinationFile, log);
    registry.GetLogger()->SetFormatter(std::make_unique<CallFormatter>());
    return log;
  }();
  return ReadTextFile(path);
}

}  // namespace

ProcessLog::ProcessLog() : offset_(ReadLog().size()) {}

std::string ProcessLog::Take() {
  const std::string log = ReadLog();
  const std::string lines = log.substr(offset_);
  offset_ = log.size();
  return lines;
}

}  // namespace test
