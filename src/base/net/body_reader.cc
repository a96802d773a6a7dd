#include "base/net/body_reader.h"

#include "base/net/http_transport.h"

namespace base::net {

BodyReader::BodyReader(HTTPBodyStream& body, int64_t content_length)
    : body_(body),
      content_length_(content_length),
      pipe_(static_cast<size_t>(kChunkSize)) {}

BodyReader::~BodyReader() {
  if (thread_.joinable()) {
    pipe_.Cancel();
    thread_.join();
  }
}

bool BodyReader::Start() {
  thread_ = std::thread([this] { Run_(); });
  return NextChunk_();
}

bool BodyReader::ReadAhead() {
  return pipe_.WaitForNext() || Failed_();
}

bool BodyReader::Take(size_t count) {
  offset_ += count;
  total_taken_ += static_cast<int64_t>(count);
  if (count == 0 || offset_ != current_.size())
    return true;
  if (!ReadAhead())
    return false;
  pipe_.Release();
  return NextChunk_();
}

void BodyReader::Run_() {
  int64_t total_read = 0;
  for (;;) {
    const std::span<char> buffer = pipe_.Writable();
    if (buffer.empty())
      return;
    const int64_t count = body_.ReadWithProgress(buffer.data(), kChunkSize);
    read_problem_ = BodyReadProblem(count, total_read, content_length_);
    if (!read_problem_.empty()) {
      pipe_.Cancel();
      return;
    }
    if (count == 0) {
      pipe_.Close();
      return;
    }
    total_read += count;
    pipe_.Commit(static_cast<size_t>(count));
  }
}

bool BodyReader::Failed_() {
  problem_ = read_problem_;
  return false;
}

bool BodyReader::NextChunk_() {
  current_ = pipe_.Readable();
  offset_ = 0;
  return !pipe_.canceled() || Failed_();
}

}  // namespace base::net
