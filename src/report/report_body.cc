#include "report/report_body.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "base/json/base64.h"
#include "base/logging/logging.h"
#include "base/utils/check.h"
#include "base/utils/file.h"

namespace tlv {
namespace {

// File bytes read and encoded at a time: a multiple of three, so that the
// pieces' Base64 texts join into the text of the whole file.
constexpr size_t kPieceSize = 3 * 16384;

// "[" + event with "dump" + "]" over a file that is read anew for each pass.
class DumpReportBody final : public ReportBody {
 public:
  DumpReportBody(const std::string& event_text,
                 const base::utils::Path& dump,
                 uint64_t dump_size)
      // The event's closing brace moves behind the added member.
      : head_("[" + event_text.substr(0, event_text.size() - 1) +
              ",\"dump\":\""),
        dump_(dump),
        dump_size_(dump_size),
        size_(static_cast<int64_t>(head_.size() +
                                   base::utils::Base64EncodedSize(dump_size) +
                                   sizeof(kTail) - 1)),
        piece_(kPieceSize),
        text_(base::utils::Base64EncodedSize(kPieceSize)) {}

  int64_t Size() override { return size_; }

  std::optional<uint32_t> dump_crc32() const override {
    return first_crc_
               ? std::optional<uint32_t>(static_cast<uint32_t>(*first_crc_))
               : std::nullopt;
  }

  void Reset() override {
    position_ = 0;
    file_.reset();
    dump_read_ = 0;
    crc_ = crc32(0, nullptr, 0);
    text_begin_ = text_end_ = 0;
    failed_ = false;
  }

  int64_t Read(char* buffer, int64_t capacity) override {
    const int64_t text_start = static_cast<int64_t>(head_.size());
    const int64_t tail_start = size_ - static_cast<int64_t>(sizeof(kTail) - 1);
    int64_t count = 0;
    while (!failed_ && count < capacity && position_ < size_) {
      const char* source;
      int64_t available;
      if (position_ < text_start) {
        source = head_.data() + position_;
        available = text_start - position_;
      } else if (position_ < tail_start) {
        if (text_begin_ == text_end_ && !ReadPiece_()) {
          failed_ = true;
          break;
        }
        source = text_.data() + text_begin_;
        available = static_cast<int64_t>(text_end_ - text_begin_);
      } else {
        source = kTail + (position_ - tail_start);
        available = size_ - position_;
      }
      const int64_t n = std::min(available, capacity - count);
      memcpy(buffer + count, source, static_cast<size_t>(n));
      if (position_ >= text_start && position_ < tail_start)
        text_begin_ += static_cast<size_t>(n);
      position_ += n;
      count += n;
    }
    return failed_ ? -1 : count;
  }

 private:
  static constexpr char kTail[] = "\"}]";

  // Reads and encodes the next piece of the dump. The last piece is handed
  // out only once the whole file has been checked against the first pass,
  // so a failing pass never completes the body.
  bool ReadPiece_() {
    if (!file_) {
      file_ =
          std::make_unique<base::utils::File>(dump_, base::utils::kReadBinary);
      if (!file_->IsOpen()) {
        TLV_LOG(base::logging::kError, "read dump failed: {}: cannot open",
                dump_.ToUtf8());
        return false;
      }
    }
    const size_t wanted = static_cast<size_t>(
        std::min<uint64_t>(kPieceSize, dump_size_ - dump_read_));
    const int64_t got = file_->Read(piece_.data(), wanted);
    if (got != static_cast<int64_t>(wanted)) {
      TLV_LOG(base::logging::kError,
              "read dump failed: {}: {} after {} of {} bytes", dump_.ToUtf8(),
              file_->AtEnd() ? "the file ended" : "read error",
              dump_read_ + static_cast<uint64_t>(std::max<int64_t>(got, 0)),
              dump_size_);
      return false;
    }
    dump_read_ += wanted;
    crc_ = crc32_z(crc_, piece_.data(), wanted);
    if (dump_read_ == dump_size_ && !CheckWholeFile_())
      return false;
    text_begin_ = 0;
    text_end_ =
        base::utils::Base64EncodeTo(piece_.data(), wanted, text_.data());
    return true;
  }

  // After the last expected byte: the file must end there and hold what the
  // first complete pass read.
  bool CheckWholeFile_() {
    char extra;
    const int64_t beyond = file_->Read(&extra, 1);
    file_.reset();
    if (beyond != 0) {
      TLV_LOG(base::logging::kError,
              "read dump failed: {}: the file grew beyond {} bytes",
              dump_.ToUtf8(), dump_size_);
      return false;
    }
    if (first_crc_ && *first_crc_ != crc_) {
      TLV_LOG(base::logging::kError,
              "read dump failed: {}: the file changed after the report was "
              "signed",
              dump_.ToUtf8());
      return false;
    }
    first_crc_ = crc_;
    return true;
  }

  const std::string head_;
  const base::utils::Path dump_;
  const uint64_t dump_size_;
  const int64_t size_;
  std::vector<uint8_t> piece_;
  std::vector<char> text_;

  // The current pass.
  std::unique_ptr<base::utils::File> file_;
  uint64_t dump_read_ = 0;
  uLong crc_ = crc32(0, nullptr, 0);
  size_t text_begin_ = 0;  // of text_, the encoded bytes not handed out yet
  size_t text_end_ = 0;
  bool failed_ = false;

  // The checksum of the dump's bytes in the first complete pass.
  std::optional<uLong> first_crc_;
};

// "[" + event + "]" without a dump.
class EventReportBody final : public ReportBody {
 public:
  explicit EventReportBody(const std::string& event_text)
      : text_("[" + event_text + "]") {}

  int64_t Size() override { return text_.Size(); }
  void Reset() override {
    text_.Reset();
    position_ = 0;
  }
  int64_t Read(char* buffer, int64_t capacity) override {
    const int64_t count = text_.Read(buffer, capacity);
    position_ += count;
    return count;
  }
  std::optional<uint32_t> dump_crc32() const override { return 0; }

 private:
  base::net::StringHTTPBodyStream text_;
};

}  // namespace

std::unique_ptr<ReportBody> MakeReportBody(const std::string& event_text,
                                           const base::utils::Path& dump,
                                           uint64_t dump_size) {
  // "dump" is spliced in before the closing brace, after a comma.
  TLV_DCHECK(event_text.size() > 2 && event_text.front() == '{' &&
             event_text.back() == '}');
  if (dump_size == 0)
    return std::make_unique<EventReportBody>(event_text);
  return std::make_unique<DumpReportBody>(event_text, dump, dump_size);
}

}  // namespace tlv
