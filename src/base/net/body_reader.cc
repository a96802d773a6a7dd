#include "base/net/body_reader.h"

#include "base/net/http_transport.h"

namespace base::net {

BodyReader::BodyReader(HTTPBodyStream& body, int64_t content_length)
    : body_(body),
      content_length_(content_length),
      buffers_(2 * static_cast<size_t>(kChunkSize)) {}

BodyReader::~BodyReader() = default;

bool BodyReader::Start() {
  return ReadChunk_(current_);
}

bool BodyReader::ReadAhead() {
  if (read_ahead_)
    return true;
  read_ahead_ = ReadChunk_(1 - current_);
  return read_ahead_;
}

std::span<const char> BodyReader::pending() const {
  return {buffers_.data() + current_ * kChunkSize + offset_,
          static_cast<size_t>(sizes_[current_] - offset_)};
}

bool BodyReader::Take(size_t count) {
  offset_ += static_cast<int64_t>(count);
  total_taken_ += static_cast<int64_t>(count);
  if (count == 0 || offset_ != sizes_[current_])
    return true;
  if (!ReadAhead())
    return false;
  current_ = 1 - current_;
  read_ahead_ = false;
  offset_ = 0;
  return true;
}

bool BodyReader::ReadChunk_(size_t index) {
  const int64_t count =
      body_.ReadWithProgress(buffers_.data() + index * kChunkSize, kChunkSize);
  problem_ = BodyReadProblem(count, total_read_, content_length_);
  if (!problem_.empty())
    return false;
  total_read_ += count;
  sizes_[index] = count;
  return true;
}

}  // namespace base::net
