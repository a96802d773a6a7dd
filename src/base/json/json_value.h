#ifndef BASE_JSON_JSON_VALUE_H_
#define BASE_JSON_JSON_VALUE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace base {

enum class JsonKind : int32_t {
  Bool = 0,
  Real = 1,  // a number written with a fraction or an exponent
  Int = 2,   // a number written as an integer, held as signed 32 bits
  String = 3,
  Array = 4,
  Object = 5,  // also what JSON null becomes
};

// The one JSON value type of the system.
//
// It is narrow on purpose: there is no null (null and unreadable text become
// an empty Object, which is also the default value), integers are signed 32
// bits (wider literals keep their low 32 bits; values that need 64 bits
// travel as Real or as text), and every accessor works by member name on an
// Object. Typed reads never convert between kinds: a member of another kind
// reads as absent, exactly like a missing one. Member order is never
// significant; written text shows the map's own order.
//
// A value owns its tree; copies are deep. There is no locking.
class JsonValue {
 public:
  using MemberMap = std::unordered_map<std::string, JsonValue>;

  // The deepest nesting of arrays and objects that Parse accepts, a null
  // counting as the Object it becomes; a deeper document is unreadable.
  // Reading, writing, copying and destroying a tree all recurse once per level,
  // so a hostile document of a few hundred thousand '[' would otherwise
  // overflow the stack. Values from Parse are the only source of nested trees
  // besides SetObject calls in our own code, which nest only a few levels.
  static constexpr int kMaxDepth = 512;

  JsonValue() = default;

  // Strict JSON (no comments, trailing commas, NaN literals or byte-order
  // mark; valid UTF-8). Any value may be the root. Text that cannot be read
  // yields an empty Object. A string or member name is cut at its first
  // zero character; of a duplicated member name the first occurrence wins.
  static JsonValue Parse(std::string_view text);

  // Compact JSON text; empty when the value cannot be written (a NaN or
  // infinite Real, or text that is not valid UTF-8).
  std::string ToText() const;

  JsonKind kind() const { return kind_; }

  std::optional<bool> GetBool(std::string_view name) const;
  std::optional<double> GetReal(std::string_view name) const;
  std::optional<int32_t> GetInt(std::string_view name) const;
  std::optional<std::string> GetString(std::string_view name) const;
  // The member whatever its kind, as a deep copy.
  std::optional<JsonValue> GetValue(std::string_view name) const;

  // Each inserts or replaces the member, of whatever kind it was, and does
  // nothing unless this value is an Object.
  void SetBool(std::string_view name, bool value);
  void SetInt(std::string_view name, int32_t value);
  void SetString(std::string_view name, std::string value);
  void SetObject(std::string_view name, MemberMap members);

  // The members of an Object; empty for any other kind.
  const MemberMap& Members() const { return members_; }
  // The elements of an Array; empty for any other kind.
  const std::vector<JsonValue>& Elements() const { return elements_; }

 private:
  friend class JsonBuilder;

  const JsonValue* Find(std::string_view name) const;
  const JsonValue* Find(std::string_view name, JsonKind kind) const;
  void Set(std::string_view name, JsonValue value);

  JsonKind kind_ = JsonKind::Object;
  bool boolean_ = false;
  double real_ = 0;
  int32_t integer_ = 0;
  std::string text_;
  std::vector<JsonValue> elements_;
  MemberMap members_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_VALUE_H_
