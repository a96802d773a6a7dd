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
// A side that has to wait sleeps until half the ring is ready for it (half
// the buffers free for the writer; half of them filled beyond the piece it
// holds for the reader), not just one buffer: the faster side then works
// through half a ring per wake-up instead of waking for every buffer, which
// on a small machine costs more than the work on the buffer itself. The end
// of the stream wakes the reader at once.
//
// Either side may Cancel, for example on a failure, which ends the wait of
// both; a canceled pipe hands out nothing more.
class BufferPipe final {
 public:
  static constexpr size_t kBuffers = 16;

  explicit BufferPipe(size_t buffer_size);
  BufferPipe(const BufferPipe&) = delete;
  BufferPipe& operator=(const BufferPipe&) = delete;
  ~BufferPipe();

  // The writer's side. The next free buffer, whole, at once unless the
  // ring is full, else once the reader has freed half of it; empty when the
  // pipe was canceled.
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
  // For the reader, which holds pieces_held pieces: when no piece follows
  // them, waits until half a ring of pieces does, the stream has ended or
  // the pipe was canceled. hold holds lock_.
  void WaitForFilled_(std::unique_lock<std::mutex>& hold, size_t pieces_held);

  std::vector<char> storage_;
  const size_t buffer_size_;
  mutable std::mutex lock_;
  std::condition_variable writer_wakes_;
  std::condition_variable reader_wakes_;
  // What a waiting side waits for: the writer for this few filled buffers
  // (kBuffers when it does not wait), the reader for this many (0 when it
  // does not wait).
  size_t writer_waits_for_ = kBuffers;
  size_t reader_waits_for_ = 0;
  std::array<size_t, kBuffers> sizes_ = {};
  size_t first_filled_ = 0;  // the buffer the reader gets next
  size_t filled_ = 0;        // buffers committed and not released
  bool closed_ = false;
  bool canceled_ = false;
};

}  // namespace base::thread

#endif  // BASE_THREAD_BUFFER_PIPE_H_
