#ifndef BASE_LOGGING_LOGGING_H_
#define BASE_LOGGING_LOGGING_H_

#include <fmt/format.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/logging/formatter.h"
#include "base/logging/log_record.h"
#include "base/logging/sinks.h"
#include "base/utils/file_path.h"

// Writes one line through the process-wide logger:
//   TLV_LOG(base::logging::kInfo, "Init success {} {}", argc, arg);
// The format text is checked against the arguments at compile time. The
// level and sink test runs before the arguments are evaluated: a filtered
// call evaluates no argument and formats nothing. The call site's file and
// function names are cut at compile time.
#define TLV_LOG(level, ...)                                                  \
  TLV_LOG_TO(::base::logging::LoggerRegistry::Instance().GetLogger(), level, \
             __VA_ARGS__)

// The SourceLocation of the place where it is written, as a constant
// expression: file and function names are cut at compile time.
#define TLV_SOURCE_LOCATION()                              \
  (::base::logging::SourceLocation{                        \
      ::base::logging::SourceFileName(__FILE__), __LINE__, \
      ::base::logging::QualifiedFunctionName(__PRETTY_FUNCTION__)})

// As TLV_LOG, through the VariadicLogger that logger points to.
#define TLV_LOG_TO(logger, level, ...)                            \
  do {                                                            \
    ::base::logging::VariadicLogger* const tlv_logger = (logger); \
    const int32_t tlv_level = (level);                            \
    if (tlv_logger->ShouldLog(tlv_level)) {                       \
      constexpr ::base::logging::SourceLocation tlv_location =    \
          TLV_SOURCE_LOCATION();                                  \
      tlv_logger->Log(tlv_location, tlv_level, __VA_ARGS__);      \
    }                                                             \
  } while (false)

namespace base::logging {

// The name of the process-wide logger.
inline constexpr std::string_view kLoggerName = "DEDaveziz";

// Bits of the destination mask given to LoggerRegistry::Init.
inline constexpr int32_t kDestinationFile = 1;
inline constexpr int32_t kDestinationConsole = 2;

using SinkList = std::vector<std::shared_ptr<sinks::Sink>>;

// A named level filter in front of a formatter and a list of sinks. Any
// thread may log; the level is the only state that changes while others log.
class Logger {
 public:
  // Starts with level kInfo and a TelvaneFormatter.
  Logger(std::string name, SinkList sinks);
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  virtual ~Logger();

  const std::string& name() const { return name_; }
  const SinkList& sinks() const { return sinks_; }

  int32_t level() const { return level_.load(std::memory_order_relaxed); }
  void set_level(int32_t level) {
    level_.store(level, std::memory_order_relaxed);
  }

  // Whether a call at level would write anything.
  bool ShouldLog(int32_t level) const {
    return level >= this->level() && !sinks_.empty();
  }

  // Replaces the formatter; a null formatter is ignored. Not to be called
  // while other threads log through this logger.
  void SetFormatter(std::unique_ptr<Formatter> formatter);

 protected:
  // Formats the line for an already formatted message and hands it to every
  // sink in order.
  void Write_(const SourceLocation& location,
              int32_t level,
              std::string_view message);

 private:
  const std::string name_;
  std::unique_ptr<Formatter> formatter_;
  std::atomic<int32_t> level_{kInfo};
  const SinkList sinks_;
};

class VariadicLogger : public Logger {
 public:
  using Logger::Logger;

  // Formats the message with {fmt} and writes its line to every sink, unless
  // the call is filtered by level or there is no sink. Only format is
  // interpreted: "{}" inside an argument is printed as it is.
  template <typename... Args>
  void Log(const SourceLocation& location,
           int32_t level,
           fmt::format_string<Args...> format,
           Args&&... args) {
    if (!ShouldLog(level)) {
      return;
    }
    LogBuffer message;
    fmt::format_to(std::back_inserter(message), format,
                   std::forward<Args>(args)...);
    Write_(location, level, std::string_view(message.data(), message.size()));
  }
};

// The sinks for a destination mask: a ConsoleSink for kDestinationConsole
// first, then a FileSink on file_path for kDestinationFile. Building the
// FileSink empties the file.
SinkList MakeSinks(int32_t destination, const utils::Path& file_path);

// The process-wide logger. Until Init, GetLogger hands out a logger without
// sinks, so everything logged before is dropped.
//
// The registry's mutex is taken last: callers may hold their own locks, and
// no other lock is taken while it is held.
class LoggerRegistry {
 public:
  // Created on first use and never destroyed, so threads that still log
  // while the process exits find it intact.
  static LoggerRegistry& Instance();

  LoggerRegistry(const LoggerRegistry&) = delete;
  LoggerRegistry& operator=(const LoggerRegistry&) = delete;

  // Valid for the life of the process.
  VariadicLogger* GetLogger();

  // Builds the logger named kLoggerName with the sinks of destination and
  // sets its level. Only the first call has any effect.
  void Init(int32_t level, int32_t destination, const utils::Path& file_path);

 private:
  LoggerRegistry() = default;

  std::mutex mutex_;
  std::shared_ptr<VariadicLogger> logger_;    // set by Init
  std::shared_ptr<VariadicLogger> fallback_;  // until Init; no sinks
};

}  // namespace base::logging

#endif  // BASE_LOGGING_LOGGING_H_
