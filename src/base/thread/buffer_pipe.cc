#include "base/thread/buffer_pipe.h"

namespace base::thread {

BufferPipe::BufferPipe(size_t buffer_size)
    : storage_(kBuffers * buffer_size), buffer_size_(buffer_size) {}

BufferPipe::~BufferPipe() = default;

// The writer's buffer is never the reader's: it is free until committed,
// and a free buffer exists only while fewer than all are filled.
std::span<char> BufferPipe::Writable() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return canceled_ || filled_ < kBuffers; });
  if (canceled_)
    return {};
  const size_t index = (first_filled_ + filled_) % kBuffers;
  return {storage_.data() + index * buffer_size_, buffer_size_};
}

void BufferPipe::Commit(size_t size) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    sizes_[(first_filled_ + filled_) % kBuffers] = size;
    ++filled_;
  }
  changed_.notify_all();
}

void BufferPipe::Close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
  }
  changed_.notify_all();
}

std::span<const char> BufferPipe::Readable() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return canceled_ || closed_ || filled_ > 0; });
  if (canceled_ || filled_ == 0)
    return {};
  return {storage_.data() + first_filled_ * buffer_size_,
          sizes_[first_filled_]};
}

void BufferPipe::Release() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    first_filled_ = (first_filled_ + 1) % kBuffers;
    --filled_;
  }
  changed_.notify_all();
}

bool BufferPipe::WaitForNext() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return canceled_ || closed_ || filled_ > 1; });
  return !canceled_;
}

void BufferPipe::Cancel() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    canceled_ = true;
  }
  changed_.notify_all();
}

bool BufferPipe::canceled() const {
  std::lock_guard<std::mutex> hold(lock_);
  return canceled_;
}

}  // namespace base::thread
