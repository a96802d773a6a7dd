#include "base/net/http_body.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "base/utils/file_util.h"

namespace base::net {

HTTPBodyStream::HTTPBodyStream() = default;

HTTPBodyStream::~HTTPBodyStream() = default;

int64_t HTTPBodyStream::ReadWithProgress(char* buffer, int64_t capacity) {
  if (progress_callback_) {
    const int64_t size = Size();
    // An empty body has nothing left to send before its first read, so it
    // counts as complete rather than as a division by zero.
    progress_callback_(
        size == 0 ? 100
                  : static_cast<int32_t>(static_cast<float>(position_) /
                                         static_cast<float>(size) * 100.0f));
  }
  return Read(buffer, capacity);
}

StringHTTPBodyStream::StringHTTPBodyStream(std::string data)
    : data_(std::move(data)) {}

StringHTTPBodyStream::~StringHTTPBodyStream() = default;

int64_t StringHTTPBodyStream::Size() {
  return static_cast<int64_t>(data_.size());
}

void StringHTTPBodyStream::Reset() {
  position_ = 0;
}

int64_t StringHTTPBodyStream::Read(char* buffer, int64_t capacity) {
  const int64_t count = std::min(capacity, Size() - position_);
  if (count <= 0) {
    return 0;
  }
  memcpy(buffer, data_.data() + position_, static_cast<size_t>(count));
  position_ += count;
  return count;
}

FileReaderHTTPBodyStream::FileReaderHTTPBodyStream(std::wstring path)
    : path_(std::move(path)) {}

FileReaderHTTPBodyStream::~FileReaderHTTPBodyStream() = default;

int64_t FileReaderHTTPBodyStream::Size() {
  // Asked afresh each time: the file may still grow while it is queued.
  const std::optional<utils::FileInfo> info =
      utils::GetFileInfo(utils::Path(path_));
  return info ? static_cast<int64_t>(info->size) : 0;
}

void FileReaderHTTPBodyStream::Reset() {
  // The next Read reopens the file, so every attempt starts at its first
  // byte and no handle stays open between attempts.
  file_.reset();
  position_ = 0;
}

int64_t FileReaderHTTPBodyStream::Read(char* buffer, int64_t capacity) {
  if (!file_) {
    file_ =
        std::make_unique<utils::File>(utils::Path(path_), utils::kReadBinary);
  }
  // -1 when the file did not open.
  const int64_t count =
      file_->Read(buffer, static_cast<size_t>(std::max<int64_t>(capacity, 0)));
  if (count > 0) {
    position_ += count;
  }
  return count;
}

}  // namespace base::net
