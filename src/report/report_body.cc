#include "report/report_body.h"

#include <xxhash.h>

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

// The most file bytes read and encoded at a time. Every piece but the last
// is a multiple of three bytes, so that the pieces' Base64 texts join into
// the text of the whole file.
constexpr size_t kPieceSize = 3 * 16384;

struct XxhStateFree {
  void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};
using ScopedXxhState = std::unique_ptr<XXH3_state_t, XxhStateFree>;

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
        text_(base::utils::Base64EncodedSize(kPieceSize)),
        hash_(XXH3_createState()) {
    Reset();
  }

  int64_t Size() override { return size_; }

  std::optional<uint64_t> dump_xxh3() const override { return first_hash_; }

  void Reset() override {
    position_ = 0;
    file_.reset();
    dump_read_ = 0;
    // Fails only for a state that was not allocated; Update then fails the
    // pass.
    if (hash_)
      XXH3_64bits_reset(hash_.get());
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
        if (text_begin_ == text_end_) {
          // Whole groups of four go straight into the caller's buffer; only
          // a buffer with room for less than one group takes a piece
          // through text_.
          const int64_t room = capacity - count;
          if (room >= 4) {
            const std::optional<size_t> encoded =
                ReadPiece_(static_cast<size_t>(
                               std::min<int64_t>(room / 4 * 3, kPieceSize)),
                           buffer + count);
            if (!encoded) {
              failed_ = true;
              break;
            }
            position_ += static_cast<int64_t>(*encoded);
            count += static_cast<int64_t>(*encoded);
            continue;
          }
          const std::optional<size_t> encoded =
              ReadPiece_(kPieceSize, text_.data());
          if (!encoded) {
            failed_ = true;
            break;
          }
          text_begin_ = 0;
          text_end_ = *encoded;
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

  // Reads the next piece of the dump, at most limit bytes (a multiple of
  // three), and writes its Base64 text to out; the size of that text, or
  // none when the pass fails. The last piece is encoded only once the whole
  // file has been checked against the first pass, so a failing pass never
  // completes the body.
  std::optional<size_t> ReadPiece_(size_t limit, char* out) {
    if (!file_) {
      file_ =
          std::make_unique<base::utils::File>(dump_, base::utils::kReadBinary);
      if (!file_->IsOpen()) {
        TLV_LOG(base::logging::kError, "read dump failed: {}: cannot open",
                dump_.ToUtf8());
        return std::nullopt;
      }
    }
    const size_t wanted =
        static_cast<size_t>(std::min<uint64_t>(limit, dump_size_ - dump_read_));
    const int64_t got = file_->Read(piece_.data(), wanted);
    if (got != static_cast<int64_t>(wanted)) {
      TLV_LOG(base::logging::kError,
              "read dump failed: {}: {} after {} of {} bytes", dump_.ToUtf8(),
              file_->AtEnd() ? "the file ended" : "read error",
              dump_read_ + static_cast<uint64_t>(std::max<int64_t>(got, 0)),
              dump_size_);
      return std::nullopt;
    }
    dump_read_ += wanted;
    if (!hash_ ||
        XXH3_64bits_update(hash_.get(), piece_.data(), wanted) != XXH_OK) {
      TLV_LOG(base::logging::kError, "read dump failed: {}: XXH3 failed",
              dump_.ToUtf8());
      return std::nullopt;
    }
    if (dump_read_ == dump_size_ && !CheckWholeFile_())
      return std::nullopt;
    return base::utils::Base64EncodeTo(piece_.data(), wanted, out);
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
    const uint64_t hash = XXH3_64bits_digest(hash_.get());
    if (first_hash_ && *first_hash_ != hash) {
      TLV_LOG(base::logging::kError,
              "read dump failed: {}: the file changed after the report was "
              "signed",
              dump_.ToUtf8());
      return false;
    }
    first_hash_ = hash;
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
  const ScopedXxhState hash_;
  size_t text_begin_ = 0;  // of text_, the encoded bytes not handed out yet
  size_t text_end_ = 0;
  bool failed_ = false;

  // The hash of the dump's bytes in the first complete pass.
  std::optional<uint64_t> first_hash_;
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
  std::optional<uint64_t> dump_xxh3() const override {
    return XXH3_64bits(nullptr, 0);
  }

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
