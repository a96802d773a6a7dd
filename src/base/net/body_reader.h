#ifndef BASE_NET_BODY_READER_H_
#define BASE_NET_BODY_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/net/http_body.h"

namespace base::net {

// Pulls a request body from its stream chunk by chunk for a platform
// transport and holds it to the announced length. The stream is read one
// chunk ahead of what the transport has taken: only so does the stream get
// its final read that returns 0 (a transport stops asking once it has the
// announced length), and a stream that would yield more than announced fails
// before the server has the whole announced body, which it would take for a
// complete request. A stream that yields fewer bytes fails too, where the
// transport would otherwise wait for bytes that never come. Either failure
// is the attempt's, with problem() saying what it was.
class BodyReader final {
 public:
  // The body stream sees reads of this size, whatever the transport's own
  // buffers.
  static constexpr int64_t kChunkSize = 32768;

  BodyReader(HTTPBodyStream& body, int64_t content_length);
  BodyReader(const BodyReader&) = delete;
  BodyReader& operator=(const BodyReader&) = delete;
  ~BodyReader();

  // Reads the first chunk, before anything is sent. For an empty body this
  // is the stream's only read.
  bool Start();
  // Reads the chunk after the current one, unless it has been read; the
  // current one stays as it is.
  bool ReadAhead();
  // The bytes of the current chunk not taken yet; empty once the stream has
  // ended.
  std::span<const char> pending() const;
  // Marks the first count pending bytes taken. Once the whole chunk is, the
  // chunk after it becomes the current one, read now unless read ahead.
  bool Take(size_t count);

  // Bytes taken.
  int64_t total_taken() const { return total_taken_; }
  // Empty unless the stream failed (BodyReadProblem).
  const std::string& problem() const { return problem_; }

 private:
  bool ReadChunk_(size_t index);

  HTTPBodyStream& body_;
  const int64_t content_length_;
  // Two chunks: the current one and the one read ahead.
  std::vector<char> buffers_;
  int64_t sizes_[2] = {};
  size_t current_ = 0;
  bool read_ahead_ = false;
  int64_t offset_ = 0;  // of the current chunk, the bytes taken
  int64_t total_read_ = 0;
  int64_t total_taken_ = 0;
  std::string problem_;
};

}  // namespace base::net

#endif  // BASE_NET_BODY_READER_H_
