#include "base/logging/sinks.h"

#include <cstdio>

#include "base/utils/file.h"

namespace base::sinks {

void ConsoleSink::Log(std::shared_ptr<const logging::LogBuffer> line) {
  std::lock_guard lock(mutex_);
  // A console that refuses the line loses it.
  utils::WriteStream(stdout, line->data(), line->size());
}

void ConsoleSink::Flush() {
  std::lock_guard lock(mutex_);
  std::fflush(stdout);
}

FileSink::FileSink(const utils::Path& path) : path_(path) {
  utils::File truncated(path_, utils::kWrite);
}

void FileSink::Log(std::shared_ptr<const logging::LogBuffer> line) {
  std::lock_guard lock(mutex_);
  // A file that cannot be opened loses this line; the next line tries again.
  utils::File file(path_, utils::kAppend);
  file.Write(line->data(), line->size());
}

}  // namespace base::sinks
