#include "base/thread/buffer_pipe.h"

namespace base::thread {

BufferPipe::BufferPipe(size_t buffer_size)
    : storage_(kBuffers * buffer_size), buffer_size_(buffer_size) {}

BufferPipe::~BufferPipe() = default;

// The writer's buffer is never the reader's: it is free until committed,
// and a free buffer exists only while fewer than all are filled.
std::span<char> BufferPipe::Writable() {
  std::unique_lock<std::mutex> hold(lock_);
  if (!canceled_ && filled_ == kBuffers) {
    writer_waits_for_ = kBuffers - kBuffers / 2;
    writer_wakes_.wait(
        hold, [this] { return canceled_ || filled_ <= writer_waits_for_; });
    writer_waits_for_ = kBuffers;
  }
  if (canceled_)
    return {};
  const size_t index = (first_filled_ + filled_) % kBuffers;
  return {storage_.data() + index * buffer_size_, buffer_size_};
}

void BufferPipe::Commit(size_t size) {
  bool wake;
  {
    std::lock_guard<std::mutex> hold(lock_);
    sizes_[(first_filled_ + filled_) % kBuffers] = size;
    ++filled_;
    wake = filled_ == reader_waits_for_;
  }
  if (wake)
    reader_wakes_.notify_one();
}

void BufferPipe::Close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
  }
  reader_wakes_.notify_one();
}

void BufferPipe::WaitForFilled_(std::unique_lock<std::mutex>& hold,
                                size_t pieces_held) {
  if (canceled_ || closed_ || filled_ > pieces_held)
    return;
  reader_waits_for_ = pieces_held + kBuffers / 2;
  reader_wakes_.wait(hold, [this] {
    return canceled_ || closed_ || filled_ >= reader_waits_for_;
  });
  reader_waits_for_ = 0;
}

std::span<const char> BufferPipe::Readable() {
  std::unique_lock<std::mutex> hold(lock_);
  WaitForFilled_(hold, 0);
  if (canceled_ || filled_ == 0)
    return {};
  return {storage_.data() + first_filled_ * buffer_size_,
          sizes_[first_filled_]};
}

void BufferPipe::Release() {
  bool wake;
  {
    std::lock_guard<std::mutex> hold(lock_);
    first_filled_ = (first_filled_ + 1) % kBuffers;
    --filled_;
    wake = filled_ == writer_waits_for_;
  }
  if (wake)
    writer_wakes_.notify_one();
}

bool BufferPipe::WaitForNext() {
  std::unique_lock<std::mutex> hold(lock_);
  WaitForFilled_(hold, 1);
  return !canceled_;
}

void BufferPipe::Cancel() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    canceled_ = true;
  }
  writer_wakes_.notify_one();
  reader_wakes_.notify_one();
}

bool BufferPipe::canceled() const {
  std::lock_guard<std::mutex> hold(lock_);
  return canceled_;
}

}  // namespace base::thread
