#ifndef REPORT_REPORT_BODY_H_
#define REPORT_REPORT_BODY_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/net/http_body.h"
#include "base/utils/file_path.h"

namespace tlv {

// The request body of a data upload, "[" + event + "]", where event is
// event_text, the compact text of the report's JSON object without "dump",
// with the member "dump" added last when dump_size is not 0: the Base64
// text of the dump file's dump_size bytes.
//
// The file is never held in memory: each pass over the body reads it again
// in pieces and encodes them as they are asked for, so the body's length is
// known before any byte is read (4 * ceil(dump_size / 3) for the Base64
// part). Every pass must yield the bytes of the first complete pass, the
// one that the signature is computed over: a pass fails (Read returns -1,
// with an ERROR line) before it hands out the body's last bytes when the
// file cannot be opened, holds fewer or more than dump_size bytes, or holds
// other bytes than before. A service therefore never receives a whole body
// that does not match its signature, or a dump that was still being
// written.
//
// With dump_size 0 the body is the event text alone and the file is not
// read. event_text must be a JSON object with at least one member.
class ReportBody : public base::net::HTTPBodyStream {
 public:
  // The XXH3 (64 bits) of the dump's bytes in the first complete pass, the
  // one the signature is computed over, which every later pass matched;
  // none before that pass. The XXH3 of no bytes for dump_size 0.
  virtual std::optional<uint64_t> dump_xxh3() const = 0;
};

// The caller owns the body alone.
std::unique_ptr<ReportBody> MakeReportBody(const std::string& event_text,
                                           const base::utils::Path& dump,
                                           uint64_t dump_size);

}  // namespace tlv

#endif  // REPORT_REPORT_BODY_H_
