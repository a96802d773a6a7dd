#include "base/json/json_value.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"
#include "test/json_tree.h"

namespace base {
namespace {

// `inner` inside `depth` arrays.
std::string Nested(int depth, std::string_view inner = "") {
  return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

TEST(JsonValueTest, DefaultIsEmptyObject) {
  const JsonValue value;
  EXPECT_EQ(value.kind(), JsonKind::Object);
  EXPECT_TRUE(value.Members().empty());
  EXPECT_EQ(value.ToText(), "{}");
}

TEST(JsonValueTest, ParseKinds) {
  struct Case {
    const char* name;
    std::string text;
    JsonKind kind;
    std::string written;  // ToText of the result; shows Int from Real
  };
  const std::vector<Case> cases = {
      {"empty text", "", JsonKind::Object, "{}"},
      {"null", "null", JsonKind::Object, "{}"},
      {"not JSON", "{oops", JsonKind::Object, "{}"},
      {"garbage after the value", "[1] x", JsonKind::Object, "{}"},
      {"byte-order mark", "\xEF\xBB\xBF[1]", JsonKind::Object, "{}"},
      {"comment", "[1]// c", JsonKind::Object, "{}"},
      {"trailing comma", "[1,]", JsonKind::Object, "{}"},
      {"NaN literal", "[NaN]", JsonKind::Object, "{}"},
      {"infinite real", "[1e400]", JsonKind::Object, "{}"},
      {"invalid UTF-8", "[\"\xFF\"]", JsonKind::Object, "{}"},
      {"scalar root", "true", JsonKind::Bool, "true"},
      {"mixed array", R"([1,2.5,"x"])", JsonKind::Array, R"([1,2.5,"x"])"},
      {"real without fraction", "2.0", JsonKind::Real, "2.0"},
      {"shortest real", "0.1", JsonKind::Real, "0.1"},
      {"null member", R"({"k":null})", JsonKind::Object, R"({"k":{}})"},
      {"first duplicate wins", R"({"a":1,"a":2})", JsonKind::Object,
       R"({"a":1})"},
      {"uint64 keeps low bits", "4294967295", JsonKind::Int, "-1"},
      {"beyond int32", "2147483648", JsonKind::Int, "-2147483648"},
      {"negative beyond int32", "-2147483649", JsonKind::Int, "2147483647"},
      {"beyond 64 bits is a real", "18446744073709551616", JsonKind::Real,
       "18446744073709552000.0"},
      {"zero in string", R"(["a\u0000b"])", JsonKind::Array, R"(["a"])"},
      {"zero in name", R"({"a\u0000b":1})", JsonKind::Object, R"({"a":1})"},
      {"non-ASCII stays raw", R"(["\u00e9"])", JsonKind::Array,
       "[\"\xC3\xA9\"]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const JsonValue value = JsonValue::Parse(c.text);
    EXPECT_EQ(value.kind(), c.kind);
    EXPECT_EQ(value.ToText(), c.written);
  }
}

TEST(JsonValueTest, ParseReadsOnlyTheGivenBytes) {
  const std::string text = "[1]]";
  const JsonValue value =
      JsonValue::Parse(std::string_view(text.data(), text.size() - 1));
  EXPECT_EQ(value.ToText(), "[1]");
}

TEST(JsonValueTest, ParseLimitsNesting) {
  struct Case {
    std::string text;
    JsonKind kind;
  };
  const std::vector<Case> cases = {
      {Nested(JsonValue::kMaxDepth), JsonKind::Array},
      {Nested(JsonValue::kMaxDepth + 1), JsonKind::Object},
      // Scalars add no level; a null does, as the Object it becomes.
      {Nested(JsonValue::kMaxDepth, "1"), JsonKind::Array},
      {Nested(JsonValue::kMaxDepth - 1, "null"), JsonKind::Array},
      {Nested(JsonValue::kMaxDepth, "null"), JsonKind::Object},
      {Nested(100000), JsonKind::Object},
      {"[" + Nested(JsonValue::kMaxDepth) + "]", JsonKind::Object},
      {R"({"a":)" + Nested(JsonValue::kMaxDepth) + "}", JsonKind::Object},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 8) + "... of " +
                 std::to_string(c.text.size()));
    const JsonValue value = JsonValue::Parse(c.text);
    EXPECT_EQ(value.kind(), c.kind);
    // What Parse accepts reads back from its own text.
    if (c.kind == JsonKind::Array)
      EXPECT_TRUE(test::SameJsonTree(JsonValue::Parse(value.ToText()), value));
    else
      EXPECT_TRUE(value.Members().empty());
  }
}

TEST(JsonValueTest, GettersReadOnlyTheirOwnKind) {
  const JsonValue object = JsonValue::Parse(
      R"({"b":true,"r":2.5,"i":7,"s":"x","a":[1],"o":{"k":1}})");
  struct Case {
    const char* name;
    JsonKind kind;
  };
  const std::vector<Case> cases = {
      {"b", JsonKind::Bool},   {"r", JsonKind::Real},  {"i", JsonKind::Int},
      {"s", JsonKind::String}, {"a", JsonKind::Array}, {"o", JsonKind::Object},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(object.GetBool(c.name).has_value(), c.kind == JsonKind::Bool);
    EXPECT_EQ(object.GetReal(c.name).has_value(), c.kind == JsonKind::Real);
    EXPECT_EQ(object.GetInt(c.name).has_value(), c.kind == JsonKind::Int);
    EXPECT_EQ(object.GetString(c.name).has_value(), c.kind == JsonKind::String);
    const std::optional<JsonValue> member = object.GetValue(c.name);
    ASSERT_TRUE(member.has_value());
    EXPECT_EQ(member->kind(), c.kind);
  }
  EXPECT_EQ(object.GetBool("b"), true);
  EXPECT_EQ(object.GetReal("r"), 2.5);
  EXPECT_EQ(object.GetInt("i"), 7);
  EXPECT_EQ(object.GetString("s"), "x");
  EXPECT_EQ(object.GetValue("o")->GetInt("k"), 1);
}

TEST(JsonValueTest, GettersFindNothingMissingOrOutsideAnObject) {
  const JsonValue object = JsonValue::Parse(R"({"i":7})");
  EXPECT_FALSE(object.GetInt("I").has_value());
  EXPECT_FALSE(object.GetValue("missing").has_value());

  const JsonValue array = JsonValue::Parse("[7]");
  EXPECT_FALSE(array.GetInt("0").has_value());
  EXPECT_FALSE(array.GetValue("0").has_value());
  EXPECT_TRUE(array.Members().empty());
  EXPECT_TRUE(object.Elements().empty());
}

TEST(JsonValueTest, SettersReplaceMembersOfAnyKind) {
  struct Case {
    const char* name;
    std::function<void(JsonValue&)> set;
    JsonKind kind;
  };
  const std::vector<Case> cases = {
      {"SetBool", [](JsonValue& v) { v.SetBool("k", false); }, JsonKind::Bool},
      {"SetInt", [](JsonValue& v) { v.SetInt("k", -3); }, JsonKind::Int},
      {"SetString", [](JsonValue& v) { v.SetString("k", "v"); },
       JsonKind::String},
      {"SetObject", [](JsonValue& v) { v.SetObject("k", {}); },
       JsonKind::Object},
  };
  const std::vector<std::string> olds = {
      R"({"k":1})",       R"({"k":"s"})",   R"({"k":[1]})",
      R"({"k":{"x":1}})", R"({"other":1})",
  };
  for (const Case& c : cases) {
    for (const std::string& old : olds) {
      SCOPED_TRACE(std::string(c.name) + " on " + old);
      JsonValue value = JsonValue::Parse(old);
      const size_t members_before = value.GetValue("k") ? 1 : 0;
      c.set(value);
      ASSERT_TRUE(value.GetValue("k").has_value());
      EXPECT_EQ(value.GetValue("k")->kind(), c.kind);
      EXPECT_EQ(value.Members().size(), 2 - members_before);
    }
  }
}

TEST(JsonValueTest, SettersDoNothingOutsideAnObject) {
  const std::vector<std::string> texts = {"true", "2.5", "1", R"("x")", "[1]"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    JsonValue value = JsonValue::Parse(text);
    value.SetBool("k", true);
    value.SetInt("k", 1);
    value.SetString("k", "v");
    value.SetObject("k", {});
    EXPECT_EQ(value.ToText(), text);
    EXPECT_TRUE(value.Members().empty());
  }
}

TEST(JsonValueTest, SetObjectHoldsExactlyTheGivenMembers) {
  const JsonValue source = JsonValue::Parse(R"({"a":[1,2],"b":{"c":"d"}})");
  JsonValue value;
  value.SetObject("copy", source.Members());
  ASSERT_TRUE(value.GetValue("copy").has_value());
  EXPECT_TRUE(test::SameJsonTree(*value.GetValue("copy"), source));
}

TEST(JsonValueTest, CopiesAreDeep) {
  JsonValue original = JsonValue::Parse(R"({"o":{"k":1},"a":[{"k":1}]})");
  const JsonValue snapshot = JsonValue::Parse(original.ToText());

  JsonValue copy = original;
  copy.SetInt("added", 1);
  JsonValue assigned;
  assigned = original;
  assigned.SetString("o", "replaced");
  std::optional<JsonValue> member = original.GetValue("o");
  ASSERT_TRUE(member.has_value());
  member->SetInt("k", 2);

  EXPECT_TRUE(test::SameJsonTree(original, snapshot));
  EXPECT_EQ(original.GetValue("o")->GetInt("k"), 1);
}

TEST(JsonValueTest, ToTextRoundTrips) {
  const std::vector<std::string> texts = {
      R"({"s":"a b\n\"q\" \\ \u00e9","n":-12,"r":-1.5e-7,"t":true,"f":false,)"
      R"("a":[[],{},[1,[2]],"x"],"o":{"e":{},"z":0}})",
      R"([{"big":1.7976931348623157e308,"tiny":5e-324}])",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const JsonValue value = JsonValue::Parse(text);
    ASSERT_NE(value.Members().size() + value.Elements().size(), 0u);
    const std::string written = value.ToText();
    EXPECT_TRUE(test::SameJsonTree(JsonValue::Parse(written), value))
        << written;
  }
}

TEST(JsonValueTest, ToTextIsCompact) {
  const JsonValue value =
      JsonValue::Parse(" { \"a\" : [ 1 , 2 ] ,\n \"b\" : { \"c\" : true } }\n");
  const std::string written = value.ToText();
  EXPECT_EQ(written.find_first_of(" \n\r\t"), std::string::npos) << written;
  EXPECT_TRUE(test::SameJsonTree(JsonValue::Parse(written), value));
}

TEST(JsonValueTest, ToTextOfBuiltMembers) {
  // A NaN or infinite Real cannot be built (Parse refuses 1e400 and there is
  // no real setter), so invalid UTF-8 stands for the unwritable value.
  struct Case {
    const char* name;
    std::function<void(JsonValue&)> set;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"zero bytes in a string are written",
       [](JsonValue& v) { v.SetString("s", std::string("a\0b", 3)); },
       R"({"s":"a\u0000b"})"},
      {"a name ends at its zero byte",
       [](JsonValue& v) { v.SetInt(std::string_view("k\0x", 3), 1); },
       R"({"k":1})"},
      {"non-ASCII is written raw",
       [](JsonValue& v) { v.SetString("s", "\xC3\xA9"); },
       "{\"s\":\"\xC3\xA9\"}"},
      {"int is widened with its sign",
       [](JsonValue& v) { v.SetInt("i", INT32_MIN); }, R"({"i":-2147483648})"},
      {"invalid UTF-8 text", [](JsonValue& v) { v.SetString("s", "\xFF"); },
       ""},
      {"invalid UTF-8 name", [](JsonValue& v) { v.SetBool("\xFF", true); }, ""},
      {"invalid UTF-8 deep inside",
       [](JsonValue& v) {
         JsonValue inner;
         inner.SetString("s", "\xC3");
         v.SetObject("o", {{"inner", inner}});
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JsonValue value;
    c.set(value);
    EXPECT_EQ(value.ToText(), c.written);
  }
}

}  // namespace
}  // namespace base
