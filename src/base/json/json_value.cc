#include "base/json/json_value.h"

#include <yyjson.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace base {

namespace {

struct DocDeleter {
  void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
};

struct MutableDocDeleter {
  void operator()(yyjson_mut_doc* doc) const { yyjson_mut_doc_free(doc); }
};

// The writer's text comes from yyjson's default allocator, which is malloc.
struct TextDeleter {
  void operator()(char* text) const { std::free(text); }
};

// Texts hold zero bytes only through a \u0000 escape (or a caller's bytes),
// and a name or text that carries one is taken as ending there.
std::string_view UpToZero(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

}  // namespace

// Moves values between yyjson's trees and ours. It is a friend because Reals
// and Arrays have no public setters: they enter only through Parse.
class JsonBuilder final {
 public:
  // `depth` counts the arrays and objects around `val`. Empty when the
  // document nests deeper than JsonValue::kMaxDepth.
  static std::optional<JsonValue> FromYyjson(yyjson_val* val, int depth);

  // Null only when yyjson runs out of memory.
  static yyjson_mut_val* ToYyjson(const JsonValue& value, yyjson_mut_doc* doc);
};

std::optional<JsonValue> JsonBuilder::FromYyjson(yyjson_val* val, int depth) {
  JsonValue result;
  switch (yyjson_get_type(val)) {
    case YYJSON_TYPE_BOOL:
      result.kind_ = JsonKind::Bool;
      result.boolean_ = yyjson_get_bool(val);
      break;
    case YYJSON_TYPE_NUM:
      switch (yyjson_get_subtype(val)) {
        // Integers keep their low 32 bits, read as two's complement.
        case YYJSON_SUBTYPE_UINT:
          result.kind_ = JsonKind::Int;
          result.integer_ = static_cast<int32_t>(yyjson_get_uint(val));
          break;
        case YYJSON_SUBTYPE_SINT:
          result.kind_ = JsonKind::Int;
          result.integer_ = static_cast<int32_t>(yyjson_get_sint(val));
          break;
        default:
          result.kind_ = JsonKind::Real;
          result.real_ = yyjson_get_real(val);
          break;
      }
      break;
    case YYJSON_TYPE_STR:
      result.kind_ = JsonKind::String;
      result.text_ =
          UpToZero(std::string_view(yyjson_get_str(val), yyjson_get_len(val)));
      break;
    case YYJSON_TYPE_ARR: {
      if (depth >= JsonValue::kMaxDepth)
        return std::nullopt;
      result.kind_ = JsonKind::Array;
      result.elements_.reserve(yyjson_arr_size(val));
      yyjson_arr_iter iter = yyjson_arr_iter_with(val);
      while (yyjson_val* element = yyjson_arr_iter_next(&iter)) {
        std::optional<JsonValue> converted = FromYyjson(element, depth + 1);
        if (!converted)
          return std::nullopt;
        result.elements_.push_back(std::move(*converted));
      }
      break;
    }
    case YYJSON_TYPE_OBJ: {
      if (depth >= JsonValue::kMaxDepth)
        return std::nullopt;
      yyjson_obj_iter iter = yyjson_obj_iter_with(val);
      while (yyjson_val* key = yyjson_obj_iter_next(&iter)) {
        std::optional<JsonValue> converted =
            FromYyjson(yyjson_obj_iter_get_val(key), depth + 1);
        if (!converted)
          return std::nullopt;
        // try_emplace keeps the first of duplicated names.
        result.members_.try_emplace(
            std::string(UpToZero(
                std::string_view(yyjson_get_str(key), yyjson_get_len(key)))),
            std::move(*converted));
      }
      break;
    }
    default:
      // null: the type has no null, so it reads as the default empty Object.
      // That Object is a level of nesting like any other: below the deepest
      // level it would be written as "{}" one level too deep, and text that
      // this system writes from a parsed document (custom_data goes into
      // every report) would not read back with Parse.
      if (depth >= JsonValue::kMaxDepth)
        return std::nullopt;
      break;
  }
  return result;
}

yyjson_mut_val* JsonBuilder::ToYyjson(const JsonValue& value,
                                      yyjson_mut_doc* doc) {
  switch (value.kind_) {
    case JsonKind::Bool:
      return yyjson_mut_bool(doc, value.boolean_);
    case JsonKind::Real:
      return yyjson_mut_real(doc, value.real_);
    case JsonKind::Int:
      return yyjson_mut_sint(doc, value.integer_);
    case JsonKind::String:
      return yyjson_mut_strncpy(doc, value.text_.data(), value.text_.size());
    case JsonKind::Array: {
      yyjson_mut_val* array = yyjson_mut_arr(doc);
      for (const JsonValue& element : value.elements_) {
        if (!yyjson_mut_arr_append(array, ToYyjson(element, doc)))
          return nullptr;
      }
      return array;
    }
    case JsonKind::Object: {
      yyjson_mut_val* object = yyjson_mut_obj(doc);
      for (const auto& [name, member] : value.members_) {
        const std::string_view key = UpToZero(name);
        if (!yyjson_mut_obj_add(object,
                                yyjson_mut_strncpy(doc, key.data(), key.size()),
                                ToYyjson(member, doc))) {
          return nullptr;
        }
      }
      return object;
    }
  }
  return nullptr;
}

// static
JsonValue JsonValue::Parse(std::string_view text) {
  // Without YYJSON_READ_INSITU the reader leaves the bytes alone, so the
  // const_cast is safe; it takes a length and needs no terminating zero.
  std::unique_ptr<yyjson_doc, DocDeleter> doc(
      yyjson_read_opts(const_cast<char*>(text.data()), text.size(),
                       YYJSON_READ_NOFLAG, nullptr, nullptr));
  if (!doc)
    return JsonValue();
  return JsonBuilder::FromYyjson(yyjson_doc_get_root(doc.get()), 0)
      .value_or(JsonValue());
}

std::string JsonValue::ToText() const {
  std::unique_ptr<yyjson_mut_doc, MutableDocDeleter> doc(
      yyjson_mut_doc_new(nullptr));
  if (!doc)
    return std::string();
  yyjson_mut_val* root = JsonBuilder::ToYyjson(*this, doc.get());
  if (!root)
    return std::string();
  yyjson_mut_doc_set_root(doc.get(), root);
  // The default flags write compact text and refuse NaN, infinities and
  // invalid UTF-8, which JSON cannot carry.
  size_t length = 0;
  std::unique_ptr<char, TextDeleter> text(yyjson_mut_write_opts(
      doc.get(), YYJSON_WRITE_NOFLAG, nullptr, &length, nullptr));
  if (!text)
    return std::string();
  return std::string(text.get(), length);
}

std::optional<bool> JsonValue::GetBool(std::string_view name) const {
  const JsonValue* member = Find(name, JsonKind::Bool);
  return member ? std::optional<bool>(member->boolean_) : std::nullopt;
}

std::optional<double> JsonValue::GetReal(std::string_view name) const {
  const JsonValue* member = Find(name, JsonKind::Real);
  return member ? std::optional<double>(member->real_) : std::nullopt;
}

std::optional<int32_t> JsonValue::GetInt(std::string_view name) const {
  const JsonValue* member = Find(name, JsonKind::Int);
  return member ? std::optional<int32_t>(member->integer_) : std::nullopt;
}

std::optional<std::string> JsonValue::GetString(std::string_view name) const {
  const JsonValue* member = Find(name, JsonKind::String);
  return member ? std::optional<std::string>(member->text_) : std::nullopt;
}

std::optional<JsonValue> JsonValue::GetValue(std::string_view name) const {
  const JsonValue* member = Find(name);
  return member ? std::optional<JsonValue>(*member) : std::nullopt;
}

void JsonValue::SetBool(std::string_view name, bool value) {
  JsonValue member;
  member.kind_ = JsonKind::Bool;
  member.boolean_ = value;
  Set(name, std::move(member));
}

void JsonValue::SetInt(std::string_view name, int32_t value) {
  JsonValue member;
  member.kind_ = JsonKind::Int;
  member.integer_ = value;
  Set(name, std::move(member));
}

void JsonValue::SetString(std::string_view name, std::string value) {
  JsonValue member;
  member.kind_ = JsonKind::String;
  member.text_ = std::move(value);
  Set(name, std::move(member));
}

void JsonValue::SetObject(std::string_view name, MemberMap members) {
  JsonValue member;
  member.members_ = std::move(members);
  Set(name, std::move(member));
}

const JsonValue* JsonValue::Find(std::string_view name) const {
  if (kind_ != JsonKind::Object)
    return nullptr;
  const auto it = members_.find(std::string(name));
  return it == members_.end() ? nullptr : &it->second;
}

const JsonValue* JsonValue::Find(std::string_view name, JsonKind kind) const {
  const JsonValue* member = Find(name);
  return member && member->kind_ == kind ? member : nullptr;
}

void JsonValue::Set(std::string_view name, JsonValue value) {
  if (kind_ != JsonKind::Object)
    return;
  members_.insert_or_assign(std::string(name), std::move(value));
}

}  // namespace base
