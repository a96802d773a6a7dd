#include "base/logging/logging.h"

namespace base::logging {

Logger::Logger(std::string name, SinkList sinks)
    : name_(std::move(name)),
      formatter_(std::make_unique<TelvaneFormatter>()),
      sinks_(std::move(sinks)) {}

Logger::~Logger() = default;

void Logger::SetFormatter(std::unique_ptr<Formatter> formatter) {
  if (formatter) {
    formatter_ = std::move(formatter);
  }
}

void Logger::Write_(const SourceLocation& location,
                    int32_t level,
                    std::string_view message) {
  const LogRecord record{location.file, location.line, location.function,
                         name_,         level,         message};
  auto line = std::make_shared<LogBuffer>();
  formatter_->Format(record, *line);
  for (const std::shared_ptr<sinks::Sink>& sink : sinks_) {
    sink->Log(line);
  }
}

SinkList MakeSinks(int32_t destination, const utils::Path& file_path) {
  SinkList sinks;
  if (destination & kDestinationConsole) {
    sinks.push_back(std::make_shared<sinks::ConsoleSink>());
  }
  if (destination & kDestinationFile) {
    sinks.push_back(std::make_shared<sinks::FileSink>(file_path));
  }
  return sinks;
}

// static
LoggerRegistry& LoggerRegistry::Instance() {
  static LoggerRegistry* const instance = new LoggerRegistry();
  return *instance;
}

VariadicLogger* LoggerRegistry::GetLogger() {
  std::lock_guard lock(mutex_);
  if (logger_) {
    return logger_.get();
  }
  if (!fallback_) {
    fallback_ =
        std::make_shared<VariadicLogger>(std::string(kLoggerName), SinkList());
  }
  return fallback_.get();
}

void LoggerRegistry::Init(int32_t level,
                          int32_t destination,
                          const utils::Path& file_path) {
  std::lock_guard lock(mutex_);
  if (logger_) {
    return;
  }
  logger_ = std::make_shared<VariadicLogger>(std::string(kLoggerName),
                                             MakeSinks(destination, file_path));
  logger_->set_level(level);
}

}  // namespace base::logging
