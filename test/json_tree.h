#ifndef TEST_JSON_TREE_H_
#define TEST_JSON_TREE_H_

#include "base/json/json_value.h"

namespace test {

// Structural equality of two JSON trees: member order never matters, as it
// never does for JsonValue. A scalar has no public reader of its own, so
// scalars compare by their (single-token) text.
bool SameJsonTree(const base::JsonValue& a, const base::JsonValue& b);

}  // namespace test

#endif  // TEST_JSON_TREE_H_
