#ifndef BASE_NET_BODY_READER_H_
#define BASE_NET_BODY_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <thread>

#include "base/net/http_body.h"
#include "base/thread/buffer_pipe.h"

namespace base::net {

// Pulls a request body from its stream chunk by chunk for a platform
// transport and holds it to the announced length. The stream is read on a
// thread of the reader's own, a few chunks ahead of the transport's writes,
// so that making the body (reading a file, encoding it) runs beside sending
// it. A chunk is handed out only once the chunk after it has been read: only
// so does the stream get its final read that returns 0 (a transport stops
// asking once it has the announced length), and a stream that would yield
// more than announced fails before the server has the whole announced body,
// which it would take for a complete request. A stream that yields fewer
// bytes fails too, where the transport would otherwise wait for bytes that
// never come. Either failure is the attempt's, with problem() saying what
// it was. The stream's progress callback runs on the reading thread.
class BodyReader final {
 public:
  // The body stream sees reads of this size, whatever the transport's own
  // buffers.
  static constexpr int64_t kChunkSize = 32768;

  BodyReader(HTTPBodyStream& body, int64_t content_length);
  BodyReader(const BodyReader&) = delete;
  BodyReader& operator=(const BodyReader&) = delete;
  // Stops the reading thread and waits for it, on every path.
  ~BodyReader();

  // Starts reading and waits for the first chunk, before anything is sent.
  // For an empty body the stream's only read is the one that returns 0.
  bool Start();
  // Waits until the chunk after the current one has been read, or the
  // stream has ended behind it.
  bool ReadAhead();
  // The bytes of the current chunk not taken yet; empty once the stream has
  // ended.
  std::span<const char> pending() const { return current_.subspan(offset_); }
  // Marks the first count pending bytes taken. Once the whole chunk is, the
  // chunk after it becomes the current one.
  bool Take(size_t count);

  // Bytes taken.
  int64_t total_taken() const { return total_taken_; }
  // Empty unless the stream failed (BodyReadProblem).
  const std::string& problem() const { return problem_; }

 private:
  // The reading thread.
  void Run_();
  // Takes the reading thread's problem once the pipe was canceled; false.
  bool Failed_();
  // The next chunk from the pipe, or the end.
  bool NextChunk_();

  HTTPBodyStream& body_;
  const int64_t content_length_;
  thread::BufferPipe pipe_;
  std::span<const char> current_;
  size_t offset_ = 0;  // of the current chunk, the bytes taken
  int64_t total_taken_ = 0;
  std::string problem_;
  // Written by the reading thread only before it cancels the pipe, read by
  // the transport's only after it saw the pipe canceled.
  std::string read_problem_;
  std::thread thread_;
};

}  // namespace base::net

#endif  // BASE_NET_BODY_READER_H_
