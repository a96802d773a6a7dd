// Number reading and JSON writing for the whole service.

#include "tools/receiving_service/text_util.h"

#include <charconv>
#include <cstdlib>

namespace tools {
namespace {

struct CharsFree {
  void operator()(char* text) const { std::free(text); }
};
using ScopedChars = std::unique_ptr<char, CharsFree>;

// The text that yyjson wrote, which it leaves to its caller to free; null,
// its sign of failure, gives the empty text.
std::string TakeText(char* text, size_t length) {
  ScopedChars owned(text);
  return owned ? std::string(owned.get(), length) : std::string();
}

}  // namespace

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

std::string WriteCompact(yyjson_val* value) {
  size_t length = 0;
  char* text = yyjson_val_write(value, 0, &length);
  return TakeText(text, length);
}

ObjectWriter::ObjectWriter()
    : doc_(yyjson_mut_doc_new(nullptr)), root_(yyjson_mut_obj(doc_.get())) {
  yyjson_mut_doc_set_root(doc_.get(), root_);
}

ObjectWriter& ObjectWriter::AddString(const char* key, std::string_view value) {
  yyjson_mut_obj_add_strncpy(doc_.get(), root_, key, value.data(),
                             value.size());
  return *this;
}

ObjectWriter& ObjectWriter::AddInt(const char* key, int64_t value) {
  yyjson_mut_obj_add_int(doc_.get(), root_, key, value);
  return *this;
}

ObjectWriter& ObjectWriter::AddBool(const char* key, bool value) {
  yyjson_mut_obj_add_bool(doc_.get(), root_, key, value);
  return *this;
}

std::string ObjectWriter::Text() const {
  size_t length = 0;
  char* text = yyjson_mut_write(doc_.get(), 0, &length);
  return TakeText(text, length);
}

}  // namespace tools
