// The small pieces of text that several parts of the service read or
// write: a whole decimal number, and compact JSON made with yyjson. Kept
// in one place so that every part reads numbers and escapes JSON the same
// way.

#ifndef TOOLS_RECEIVING_SERVICE_TEXT_UTIL_H_
#define TOOLS_RECEIVING_SERVICE_TEXT_UTIL_H_

#include <yyjson.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tools {

// The whole of `text` as a decimal int; nothing for any other text.
std::optional<int> ParseInt(std::string_view text);

// The compact text of `value`; empty when yyjson cannot write it.
std::string WriteCompact(yyjson_val* value);

// Builds one compact JSON object; yyjson escapes what needs escaping.
class ObjectWriter final {
 public:
  ObjectWriter();

  ObjectWriter& AddString(const char* key, std::string_view value);
  ObjectWriter& AddInt(const char* key, int64_t value);
  ObjectWriter& AddBool(const char* key, bool value);

  std::string Text() const;

 private:
  struct DocFree {
    void operator()(yyjson_mut_doc* doc) const { yyjson_mut_doc_free(doc); }
  };

  std::unique_ptr<yyjson_mut_doc, DocFree> doc_;
  yyjson_mut_val* root_;
};

}  // namespace tools

#endif  // TOOLS_RECEIVING_SERVICE_TEXT_UTIL_H_
