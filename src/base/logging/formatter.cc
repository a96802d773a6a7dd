#include "base/logging/formatter.h"

#include <array>
#include <iterator>
#include <string_view>

#include "base/utils/sys_util.h"

namespace base {

namespace {

constexpr std::array<std::string_view, 6> kLevelNames = {
    "TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};

}  // namespace

void FormatTelvaneLine(const logging::LogRecord& record,
                       Time& time,
                       logging::LogBuffer& out) {
  const auto it = std::back_inserter(out);
  const TimeFields& local = time.LocalFields();
  fmt::format_to(it, "[Telvane:{}:{}:{:02}{:02}/{:02}{:02}{:02}.{:03}:{}:",
                 utils::GetProcessId(), utils::GetThreadId(), local.month,
                 local.day, local.hour, local.minute, local.second,
                 local.millisecond, time.ToMilliseconds());
  if (record.level >= 0 &&
      static_cast<size_t>(record.level) < kLevelNames.size()) {
    fmt::format_to(it, "{}:", kLevelNames[record.level]);
  } else {
    fmt::format_to(it, "{}:", record.level);
  }
  if (!record.file.empty()) {
    fmt::format_to(it, "{}({})", record.file, record.line);
  }
  fmt::format_to(it, "] ");
  // One record, one line: a message can carry text from outside, such as a
  // service's answer, whose line breaks would otherwise split the record or
  // pass for records of their own.
  for (const char c : record.message) {
    if (c == '\n') {
      out.append(std::string_view("\\n"));
    } else if (c == '\r') {
      out.append(std::string_view("\\r"));
    } else {
      out.push_back(c);
    }
  }
  out.push_back('\n');
}

void TelvaneFormatter::Format(const logging::LogRecord& record,
                              logging::LogBuffer& out) const {
  Time now;
  FormatTelvaneLine(record, now, out);
}

std::unique_ptr<Formatter> TelvaneFormatter::Clone() const {
  return std::make_unique<TelvaneFormatter>();
}

void DefaultFormatter::Format(const logging::LogRecord& record,
                              logging::LogBuffer& out) const {
  out.append(record.message);
  out.push_back('\n');
}

std::unique_ptr<Formatter> DefaultFormatter::Clone() const {
  return std::make_unique<DefaultFormatter>();
}

}  // namespace base
