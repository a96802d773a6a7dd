#ifndef BASE_NET_HTTP_BODY_H_
#define BASE_NET_HTTP_BODY_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/utils/file.h"
#include "base/utils/file_path.h"

namespace base::net {

// Receives the share of the body sent so far, in percent, before each chunk.
// A transport may read the body, and so call this, on a thread of its own
// for the length of an attempt.
using ProgressCallback = std::function<void(int32_t percent)>;

// Where a request body comes from. A transport calls Reset at the start of
// every attempt, so a retry sends the whole body again, and pulls the bytes
// with ReadWithProgress.
class HTTPBodyStream {
 public:
  HTTPBodyStream(const HTTPBodyStream&) = delete;
  HTTPBodyStream& operator=(const HTTPBodyStream&) = delete;
  virtual ~HTTPBodyStream();

  // The total number of body bytes.
  virtual int64_t Size() = 0;
  // Rewinds to the first byte.
  virtual void Reset() = 0;
  // Copies up to capacity bytes into buffer and returns how many; 0 at the
  // end, -1 when the body cannot be read (the attempt then fails).
  virtual int64_t Read(char* buffer, int64_t capacity) = 0;

  // Calls the progress callback, if any, with the share handed out before
  // this read, then reads.
  int64_t ReadWithProgress(char* buffer, int64_t capacity);

  void set_progress_callback(ProgressCallback callback) {
    progress_callback_ = std::move(callback);
  }

 protected:
  HTTPBodyStream();

  // Bytes handed out since construction or the last Reset.
  int64_t position_ = 0;

 private:
  ProgressCallback progress_callback_;
};

// A body held in memory.
class StringHTTPBodyStream final : public HTTPBodyStream {
 public:
  explicit StringHTTPBodyStream(std::string data);
  ~StringHTTPBodyStream() override;

  int64_t Size() override;
  void Reset() override;
  int64_t Read(char* buffer, int64_t capacity) override;

 private:
  std::string data_;
};

// A body read from a file, opened with shared access on the first Read of
// each attempt, so the whole file is never held in memory.
class FileReaderHTTPBodyStream final : public HTTPBodyStream {
 public:
  explicit FileReaderHTTPBodyStream(std::wstring path);
  ~FileReaderHTTPBodyStream() override;

  // The file's size now, or 0 when it cannot be queried.
  int64_t Size() override;
  void Reset() override;
  // -1 when the file cannot be opened.
  int64_t Read(char* buffer, int64_t capacity) override;

 private:
  std::wstring path_;
  std::unique_ptr<utils::File> file_;
};

}  // namespace base::net

#endif  // BASE_NET_HTTP_BODY_H_
