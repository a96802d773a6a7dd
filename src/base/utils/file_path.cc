#include "base/utils/file_path.h"

#include <algorithm>

#include "base/utils/string_util.h"

namespace base::utils {

namespace {

constexpr wchar_t kSeparators[] = L"/\\";

std::wstring Normalize(std::wstring text) {
  std::replace(text.begin(), text.end(), L'\\', L'/');
  // Slashes first, then spaces: "a/b/ " keeps its last '/'.
  while (!text.empty() && text.back() == L'/') {
    text.pop_back();
  }
  while (!text.empty() && text.back() == L' ') {
    text.pop_back();
  }
  return text;
}

}  // namespace

Path::Path(std::wstring_view wide) : path_(Normalize(std::wstring(wide))) {}

Path::Path(std::string_view utf8) : path_(Normalize(Utf8ToWide(utf8))) {}

Path Path::Parent() const {
  const size_t separator = path_.find_last_of(kSeparators);
  if (separator == std::wstring::npos) {
    return Path();
  }
  return Path(std::wstring_view(path_).substr(0, separator));
}

std::wstring Path::FileName() const {
  const size_t separator = path_.find_last_of(kSeparators);
  if (separator == std::wstring::npos) {
    return path_;
  }
  return path_.substr(separator + 1);
}

Path Path::Join(std::wstring_view name) const {
  std::wstring joined = path_;
  joined.push_back(L'/');
  joined.append(name);
  return Path(joined);
}

Path Path::Join(std::string_view utf8_name) const {
  return Join(Utf8ToWide(utf8_name));
}

Path Path::Append(std::wstring_view suffix) const {
  std::wstring appended = path_;
  appended.append(suffix);
  return Path(appended);
}

std::string Path::ToUtf8() const {
  return WideToUtf8(path_);
}

std::string Path::FileNameUtf8() const {
  return WideToUtf8(FileName());
}

}  // namespace base::utils
