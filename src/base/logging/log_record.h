#ifndef BASE_LOGGING_LOG_RECORD_H_
#define BASE_LOGGING_LOG_RECORD_H_

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace base::logging {

// Levels; a call is written when its level is at least the logger's.
inline constexpr int32_t kTrace = 0;
inline constexpr int32_t kDebug = 1;
inline constexpr int32_t kInfo = 2;
inline constexpr int32_t kWarn = 3;
inline constexpr int32_t kError = 4;
inline constexpr int32_t kFatal = 5;

// Messages and lines are built here; ordinary lines fit the inline storage
// and need no heap memory for their text.
using LogBuffer = fmt::basic_memory_buffer<char, 256>;

// The call site of a log line. Both texts point into the compiler's static
// strings (__FILE__, __PRETTY_FUNCTION__), so a location is always valid.
struct SourceLocation {
  std::string_view file;  // the source file's name, directories cut off
  int32_t line = 0;
  std::string_view function;  // qualified, e.g. "tlv::TimerService::Start"
};

// path after its last '/'; only a path without any '/' is cut after its last
// '\\'; a path with neither is returned whole.
constexpr std::string_view SourceFileName(std::string_view path) {
  size_t cut = path.rfind('/');
  if (cut == std::string_view::npos) {
    cut = path.rfind('\\');
  }
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

namespace detail {

constexpr bool IsIdentifierChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '_';
}

inline constexpr std::string_view kOperatorKeyword = "operator";

// Whether the keyword "operator" stands at i as a whole word.
constexpr bool IsOperatorAt(std::string_view text, size_t i) {
  const size_t end = i + kOperatorKeyword.size();
  return text.substr(i, kOperatorKeyword.size()) == kOperatorKeyword &&
         (i == 0 || !IsIdentifierChar(text[i - 1])) &&
         (end == text.size() || !IsIdentifierChar(text[end]));
}

}  // namespace detail

// The qualified name inside a compiler's pretty function text: return type,
// parameter list, qualifiers and "[with T = ...]" are dropped.
//   "static void tlv::A::Run(int) const"    -> "tlv::A::Run"
//   "bool tlv::A::operator()(int)"           -> "tlv::A::operator()"
//   "tlv::A::Run()::<lambda(int)>"           -> "tlv::A::Run"
//   "int main(int, char**)"                  -> "main"
// A lambda or a local class reports its enclosing function. A text without a
// parameter list, or one whose name cannot be told (a function returning a
// function pointer), is returned whole.
constexpr std::string_view QualifiedFunctionName(std::string_view pretty) {
  size_t start = 0;
  // Inside template arguments, spaces and '(' belong to a type.
  int depth = 0;
  for (size_t i = 0; i < pretty.size(); ++i) {
    const char c = pretty[i];
    if (c == '<') {
      ++depth;
    } else if (c == '>') {
      if (depth > 0) {
        --depth;
      }
    } else if (depth > 0) {
      continue;
    } else if (c == ' ') {
      start = i + 1;  // what came before was the return type
    } else if (c == '(') {
      const std::string_view name = pretty.substr(start, i - start);
      return name.empty() ? pretty : name;
    } else if (detail::IsOperatorAt(pretty, i)) {
      // The operator's symbol ("()", "<<", " bool") belongs to the name:
      // skip to the parameter list.
      i += detail::kOperatorKeyword.size();
      if (pretty.substr(i, 2) == "()") {
        i += 2;
      }
      const size_t parameters = pretty.find('(', i);
      if (parameters == std::string_view::npos) {
        return pretty;
      }
      i = parameters - 1;
    }
  }
  return pretty;
}

// What one written call hands to the formatter. The texts are views into the
// call's location, the logger and the formatted message, valid during the
// call only.
struct LogRecord {
  std::string_view file;  // empty when the call site gave none
  int32_t line = 0;
  std::string_view function;
  std::string_view logger_name;
  int32_t level = kInfo;
  std::string_view message;
};

}  // namespace base::logging

#endif  // BASE_LOGGING_LOG_RECORD_H_
