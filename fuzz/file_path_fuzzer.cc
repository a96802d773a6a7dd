// Path and the UTF-8 <-> wide conversions on arbitrary text.
//
// The input gives a UTF-8 path, a UTF-8 name and, from the remaining bytes,
// a wide path of any code units (zeros, surrogates, values beyond U+10FFFF).
// Checked for both paths, from the rules in file_path.h and string_util.h:
//   - a normalised value holds no '\', does not end in a space, and is the
//     input with '\' made '/' and some of its end cut off;
//   - normalising it again only cuts more '/' and spaces from its end, and
//     changes nothing unless it ends in '/' ("a/b/ " gives "a/b/");
//   - FileName is the text after the last '/', Parent the normalised text
//     before it, and Parent always shortens a non-empty path;
//   - joining a name that normalisation leaves alone gives that name back
//     as FileName, with the path normalised again as Parent; the UTF-8 and
//     the wide Join agree; appending such a name appends it;
//   - UTF-8 written by WideToUtf8 reads back to the same wide text, and a
//     path read from UTF-8 goes out and comes back unchanged.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/utils/file_path.h"
#include "base/utils/string_util.h"

namespace {

using base::utils::Path;
using base::utils::Utf8ToWide;
using base::utils::WideToUtf8;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

// `text` is `whole` with at most some of its end cut off, and that end holds
// only the characters in `cut`.
bool IsPrefixCutFrom(std::wstring_view text,
                     std::wstring_view whole,
                     std::wstring_view cut) {
  return whole.substr(0, text.size()) == text &&
         whole.find_first_not_of(cut, text.size()) == std::wstring_view::npos;
}

// Whether normalisation leaves `name` alone as a path of its own, and it
// holds no separator.
bool IsPlainName(std::wstring_view name) {
  return !name.empty() && name.find_first_of(L"/\\") == std::wstring::npos &&
         name.back() != L' ';
}

void CheckPath(const Path& path, std::wstring input) {
  const std::wstring& value = path.value();
  std::replace(input.begin(), input.end(), L'\\', L'/');
  Check(value.find(L'\\') == std::wstring::npos);
  Check(value.empty() || value.back() != L' ');
  Check(input.substr(0, value.size()) == value);

  const Path again(value);
  Check(IsPrefixCutFrom(again.value(), value, L"/ "));
  Check(again == path || value.back() == L'/');

  const std::wstring file_name = path.FileName();
  Check(file_name.find(L'/') == std::wstring::npos);
  Check(value.ends_with(file_name));
  const Path parent = path.Parent();
  if (file_name.size() == value.size()) {
    Check(parent.empty());
  } else {
    const std::wstring_view before =
        std::wstring_view(value).substr(0, value.size() - file_name.size() - 1);
    Check(value[before.size()] == L'/');
    Check(parent == Path(before));
  }
  Check(value.empty() || parent.value().size() < value.size());
}

void CheckJoin(const Path& path, std::string_view utf8_name) {
  const std::wstring name = Utf8ToWide(utf8_name);
  const Path joined = path.Join(utf8_name);
  Check(joined == path.Join(std::wstring_view(name)));
  if (!IsPlainName(name))
    return;
  Check(joined.FileName() == name);
  Check(joined.Parent() == Path(path.value()));
  Check(path.Append(name).value() == path.value() + name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string utf8 = provider.ConsumeRandomLengthString();
  const std::string utf8_name = provider.ConsumeRandomLengthString();
  const std::vector<uint8_t> rest = provider.ConsumeRemainingBytes<uint8_t>();
  std::wstring wide(rest.size() / sizeof(wchar_t), L'\0');
  if (!wide.empty())
    std::memcpy(wide.data(), rest.data(), wide.size() * sizeof(wchar_t));

  const std::wstring converted = Utf8ToWide(utf8);
  const std::string written = WideToUtf8(wide);
  Check(WideToUtf8(Utf8ToWide(written)) == written);
  Check(Utf8ToWide(WideToUtf8(converted)) == converted);

  const Path from_utf8(utf8);
  CheckPath(from_utf8, converted);
  Check(from_utf8 == Path(std::wstring_view(converted)));
  Check(Utf8ToWide(from_utf8.ToUtf8()) == from_utf8.value());
  CheckJoin(from_utf8, utf8_name);

  const Path from_wide{std::wstring_view(wide)};
  CheckPath(from_wide, wide);
  CheckJoin(from_wide, utf8_name);
  return 0;
}
