#include "test/json_tree.h"

namespace test {

bool SameJsonTree(const base::JsonValue& a, const base::JsonValue& b) {
  if (a.kind() != b.kind())
    return false;
  switch (a.kind()) {
    case base::JsonKind::Array:
      if (a.Elements().size() != b.Elements().size())
        return false;
      for (size_t i = 0; i < a.Elements().size(); ++i) {
        if (!SameJsonTree(a.Elements()[i], b.Elements()[i]))
          return false;
      }
      return true;
    case base::JsonKind::Object:
      if (a.Members().size() != b.Members().size())
        return false;
      for (const auto& [name, member] : a.Members()) {
        const auto it = b.Members().find(name);
        if (it == b.Members().end() || !SameJsonTree(member, it->second))
          return false;
      }
      return true;
    default:
      return a.ToText() == b.ToText();
  }
}

}  // namespace test
