// JsonValue::Parse on arbitrary bytes, and the written text read back.
//
// Parse accepts only what ToText can write (strict, valid UTF-8, finite
// numbers), so a value that Parse returns always writes to non-empty text.
// Member order is not kept, so written text need not repeat itself byte for
// byte; read again, it must give the same tree, which writes to text that
// gives that tree once more.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/json/json_value.h"
#include "test/json_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const base::JsonValue value = base::JsonValue::Parse(
      std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string written = value.ToText();
  if (written.empty())
    std::abort();

  const base::JsonValue reread = base::JsonValue::Parse(written);
  if (!test::SameJsonTree(reread, value))
    std::abort();
  if (!test::SameJsonTree(base::JsonValue::Parse(reread.ToText()), value))
    std::abort();
  return 0;
}
