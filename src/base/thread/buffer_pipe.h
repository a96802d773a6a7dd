#ifndef BASE_THREAD_BUFFER_PIPE_H_
#define BASE_THREAD_BUFFER_PIPE_H_

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>
#include <vector>

namespace base::thread {

// Hands pieces of a stream from one thread to one other through a small,
// fixed ring of buffers, so that making the pieces and using them run side
// by side without a copy of the whole stream: the writer fills a free buffer
// in place, the reader uses a filled one in place and then frees it. Memory
// stays at the ring's size however long the stream.
//
// Either side may Cancel, for example on a failure, which ends the wait of
// both; a canceled pipe hands out nothing more.
class BufferPipe final {
 public:
  static constexpr size_t kBuffers = 4;

  explicit BufferPipe(size_t buffer_size);
  BufferPipe(const BufferPipe&) = delete;
  BufferPipe& operator=(const BufferPipe&) = delete;
  ~BufferPipe();

  // The writer's side. The next free buffer, whole, once the reader has
  // freed one; empty when the pipe was canceled.
  std::span<char> Writable();
  // Passes the first size bytes, at least one, of the buffer Writable gave
  // to the reader.
  void Commit(size_t size);
  // No more pieces follow: the reader gets the rest, then the end.
  void Close();

  // The reader's side. The oldest filled piece; empty at the end of the
  // stream or when the pipe was canceled.
  std::span<const char> Readable();
  // Frees the buffer of the piece that Readable gave.
  void Release();
  // Waits until a piece follows the one Readable gave, or the stream has
  // ended behind it; false when the pipe was canceled instead.
  bool WaitForNext();

  // Ends the stream at once on both sides.
  void Cancel();
  bool canceled() const;

 private:
  std::vector<char> storage_;
  const size_t buffer_size_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::array<size_t, kBuffers> sizes_ = {};
  size_t first_filled_ = 0;  // the buffer the reader gets next
  size_t filled_ = 0;        // buffers committed and not released
  bool closed_ = false;
  bool canceled_ = false;
};

}  // namespace base::thread

#endif  // BASE_THREAD_BUFFER_PIPE_H_
