#include "base/utils/file.h"

#include <iterator>

namespace base::utils {

const char* OpenModeString(int32_t mode) {
  static constexpr const char* kModes[] = {
      "r", "rb", "r+", "rb+", "w", "wb", "w+", "wb+", "a", "a+", "ab", "ab+",
  };
  if (mode < 0 || static_cast<size_t>(mode) >= std::size(kModes)) {
    return kModes[kRead];
  }
  return kModes[mode];
}

bool WriteStream(FILE* stream, const void* data, size_t n) {
  const char* bytes = static_cast<const char*>(data);
  while (n > 0) {
    const size_t written = std::fwrite(bytes, 1, n, stream);
    if (written == 0) {
      return false;
    }
    bytes += written;
    n -= written;
  }
  return true;
}

bool File::Open(const Path& path, int32_t mode) {
  Close();
  stream_ = OpenSharedStream(path, mode);
  open_ = stream_ != nullptr;
  if (open_) {
    path_ = path.value();
  }
  return open_;
}

int64_t File::Read(void* buffer, size_t n) {
  if (!open_) {
    return -1;
  }
  return static_cast<int64_t>(std::fread(buffer, 1, n, stream_));
}

bool File::AtEnd() const {
  return open_ && std::feof(stream_);
}

bool File::Write(const void* data, size_t n) {
  return open_ && WriteStream(stream_, data, n);
}

void File::Flush() {
  if (open_) {
    std::fflush(stream_);
  }
}

bool File::Close() {
  bool closed = true;
  if (stream_) {
    closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
  }
  open_ = false;
  path_.clear();
  return closed;
}

}  // namespace base::utils
