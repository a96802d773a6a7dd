#ifndef BASE_LOGGING_SINKS_H_
#define BASE_LOGGING_SINKS_H_

#include <memory>
#include <mutex>

#include "base/logging/log_record.h"
#include "base/utils/file_path.h"

namespace base::sinks {

// Where formatted lines go. Each sink serialises its own writes, so lines of
// concurrent calls never interleave within one sink. A sink takes no other
// lock while it holds its own.
class Sink {
 public:
  virtual ~Sink() = default;

  // Writes all bytes of line. Every sink of a logger gets its own share of
  // the same buffer. Failures lose the line; logging never fails its caller.
  virtual void Log(std::shared_ptr<const logging::LogBuffer> line) = 0;
  virtual void Flush() = 0;
};

// Standard output, buffered by the C library: lines reach the console when
// the stream flushes, not when Log returns.
class ConsoleSink final : public Sink {
 public:
  void Log(std::shared_ptr<const logging::LogBuffer> line) override;
  void Flush() override;

 private:
  std::mutex mutex_;
};

// A log file that holds every line once Log has returned, whatever ends the
// process afterwards: each line is appended by its own open, write and
// close.
class FileSink final : public Sink {
 public:
  // Creates or empties the file, so each run starts a fresh log.
  explicit FileSink(const utils::Path& path);

  void Log(std::shared_ptr<const logging::LogBuffer> line) override;
  // Nothing to do: no handle stays open between lines.
  void Flush() override {}

 private:
  const utils::Path path_;
  std::mutex mutex_;
};

}  // namespace base::sinks

#endif  // BASE_LOGGING_SINKS_H_
