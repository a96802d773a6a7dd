#ifndef BASE_LOGGING_FORMATTER_H_
#define BASE_LOGGING_FORMATTER_H_

#include <memory>

#include "base/logging/log_record.h"
#include "base/utils/time.h"

namespace base {

// Turns one record into one line. Formatters hold no state, so one logger's
// formatter serves every thread at once.
class Formatter {
 public:
  virtual ~Formatter() = default;

  // Appends the whole line for record, line feed included, to out.
  virtual void Format(const logging::LogRecord& record,
                      logging::LogBuffer& out) const = 0;
  virtual std::unique_ptr<Formatter> Clone() const = 0;
};

// The product line:
//   [Telvane:pid:tid:MMDD/HHMMSS.mmm:epoch_ms:LEVEL:file(line)] message
// with local time, and "file(line)" only when the record has a file (the
// ':' after the level stays).
class TelvaneFormatter final : public Formatter {
 public:
  void Format(const logging::LogRecord& record,
              logging::LogBuffer& out) const override;
  std::unique_ptr<Formatter> Clone() const override;
};

// The message and a line feed, nothing else.
class DefaultFormatter final : public Formatter {
 public:
  void Format(const logging::LogRecord& record,
              logging::LogBuffer& out) const override;
  std::unique_ptr<Formatter> Clone() const override;
};

// TelvaneFormatter's line for the instant time. The local time and the epoch
// milliseconds both come from time, so the two fields always agree. A level
// outside kTrace..kFatal is printed as its number.
void FormatTelvaneLine(const logging::LogRecord& record,
                       Time& time,
                       logging::LogBuffer& out);

}  // namespace base

#endif  // BASE_LOGGING_FORMATTER_H_
