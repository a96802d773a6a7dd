#ifndef BASE_UTILS_FILE_PATH_H_
#define BASE_UTILS_FILE_PATH_H_

#include <string>
#include <string_view>

namespace base::utils {

// A file-system path held as wide text, the form the platform's file
// interface takes on Windows. The rest of the system holds UTF-8 and converts
// at this boundary.
//
// Every constructor and every operation that yields a Path normalises it:
//   1. each backslash becomes '/';
//   2. then trailing '/' characters are removed;
//   3. then trailing spaces are removed.
// The order matters: "a\b/ " becomes "a/b/" (step 2 sees the space and
// stops, step 3 removes it). "C:\dir\sub\" becomes "C:/dir/sub", and "/"
// alone becomes the empty path. A Path may be empty.
//
// Nothing here touches the disk: a Path is a text with rules, and whether it
// names anything is for the functions in file_util.h to find out.
class Path {
 public:
  Path() = default;
  explicit Path(std::wstring_view wide);
  // UTF-8 text, converted with Utf8ToWide (invalid bytes become U+FFFD).
  explicit Path(std::string_view utf8);
  explicit Path(const char* utf8) : Path(std::string_view(utf8)) {}
  explicit Path(const wchar_t* wide) : Path(std::wstring_view(wide)) {}

  const std::wstring& value() const { return path_; }
  bool empty() const { return path_.empty(); }

  // The text before the last '/'; empty when there is none.
  Path Parent() const;
  // The text after the last '/'; the whole text when there is none.
  std::wstring FileName() const;
  // This path, '/', then name.
  Path Join(std::wstring_view name) const;
  Path Join(std::string_view utf8_name) const;
  // This path immediately followed by suffix.
  Path Append(std::wstring_view suffix) const;

  std::string ToUtf8() const;
  std::string FileNameUtf8() const;

  friend bool operator==(const Path&, const Path&) = default;

 private:
  std::wstring path_;
};

}  // namespace base::utils

#endif  // BASE_UTILS_FILE_PATH_H_
