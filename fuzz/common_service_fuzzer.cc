// CommonService::Update on arbitrary common information, read back through
// every getter.
//
// The first byte picks the privacy level, set before the update as the
// process does; the rest is the common_info text. Each text member that is
// a non-empty string is what its getter returns, unless the level hides it
// (lrsag 1 and an area other than "cn"), when the getter returns nothing;
// the area is "cn", "os" or none; the validity follows from app_id, area
// and compile_type. A second update with the same text changes nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/json/json_value.h"
#include "common/common_service.h"

namespace {

using tlv::CommonService;

enum class Hidden { kNever, kFromLevel1, kAtLevel2 };

struct TextMember {
  std::string_view name;
  std::string (CommonService::*get)();
  Hidden hidden;
};

constexpr TextMember kTextMembers[] = {
    {"app_version", &CommonService::GetAppVersion, Hidden::kNever},
    {"package_name", &CommonService::GetPackageName, Hidden::kNever},
    {"channel", &CommonService::GetChannel, Hidden::kNever},
    {"app_id", &CommonService::GetAppId, Hidden::kNever},
    {"region", &CommonService::GetRegion, Hidden::kNever},
    {"compile_type", &CommonService::GetCompileType, Hidden::kNever},
    {"user_device_id", &CommonService::GetUserDeviceId, Hidden::kFromLevel1},
    {"user_id", &CommonService::GetUserId, Hidden::kFromLevel1},
    {"symbol_id", &CommonService::GetSymbolId, Hidden::kNever},
    {"sdk_version", &CommonService::GetSdkVersion, Hidden::kNever},
    {"device_id", &CommonService::GetDeviceId, Hidden::kNever},
    {"a_id", &CommonService::GetAId, Hidden::kFromLevel1},
    {"lifecycle_id", &CommonService::GetLifecycleId, Hidden::kNever},
    {"platform", &CommonService::GetPlatform, Hidden::kNever},
    {"cpu_architecture", &CommonService::GetCpuArchitecture, Hidden::kNever},
    {"rom", &CommonService::GetRom, Hidden::kNever},
    {"brand", &CommonService::GetBrand, Hidden::kAtLevel2},
    {"device_model", &CommonService::GetDeviceModel, Hidden::kAtLevel2},
    {"system_version", &CommonService::GetSystemVersion, Hidden::kAtLevel2},
};

// Every getter's result, to compare one state of the service with another.
struct Snapshot {
  std::array<std::string, std::size(kTextMembers)> texts;
  std::string device_name;
  std::string area_text;
  std::string plugin_version;
  int32_t area = 0;
  bool is_root = false;
  bool valid = false;

  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(CommonService& service) {
  Snapshot snapshot;
  for (size_t i = 0; i < std::size(kTextMembers); ++i)
    snapshot.texts[i] = (service.*kTextMembers[i].get)();
  snapshot.device_name = service.GetDeviceName();
  snapshot.area_text = service.GetAreaText();
  snapshot.plugin_version = service.GetPluginVersion();
  snapshot.area = service.GetArea();
  snapshot.is_root = service.IsRoot();
  snapshot.valid = service.IsValid();
  return snapshot;
}

std::optional<std::string> NonEmptyText(const base::JsonValue& json,
                                        std::string_view name) {
  std::optional<std::string> text = json.GetString(name);
  if (text && text->empty())
    return std::nullopt;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const int32_t level = data[0] % 3;
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  const base::JsonValue json = base::JsonValue::Parse(text);

  CommonService service;
  service.SetFtcSwitch(level);
  service.Update(text);
  const Snapshot snapshot = Take(service);

  const std::string area = json.GetString("area").value_or("");
  const int32_t expected_area = area == "cn"   ? tlv::kAreaMainland
                                : area == "os" ? tlv::kAreaOversea
                                               : tlv::kAreaNone;
  if (snapshot.area != expected_area ||
      snapshot.area_text != (expected_area == tlv::kAreaNone ? "" : area)) {
    std::abort();
  }

  const bool filtered = json.GetInt("lrsag").value_or(1) == 1 &&
                        expected_area != tlv::kAreaMainland;
  const bool identity_hidden = filtered && level >= 1;
  const bool device_hidden = filtered && level == 2;
  for (size_t i = 0; i < std::size(kTextMembers); ++i) {
    const TextMember& member = kTextMembers[i];
    const bool hidden =
        (member.hidden == Hidden::kFromLevel1 && identity_hidden) ||
        (member.hidden == Hidden::kAtLevel2 && device_hidden);
    const std::optional<std::string> given = NonEmptyText(json, member.name);
    if (hidden ? !snapshot.texts[i].empty()
               : given && snapshot.texts[i] != *given) {
      std::abort();
    }
  }

  // The device name counts only with use_device_name true.
  const std::optional<std::string> device_name =
      NonEmptyText(json, "device_name");
  const bool no_device_name =
      !json.GetBool("use_device_name").value_or(false) || device_hidden;
  if (no_device_name ? !snapshot.device_name.empty()
                     : device_name && snapshot.device_name != *device_name) {
    std::abort();
  }

  if (service.GetDeviceId().empty() ||
      snapshot.plugin_version != tlv::kKitVersion ||
      snapshot.is_root != json.GetBool("is_root").value_or(false)) {
    std::abort();
  }
  const std::string compile_type =
      NonEmptyText(json, "compile_type").value_or("release");
  const bool valid = NonEmptyText(json, "app_id") &&
                     expected_area != tlv::kAreaNone &&
                     (compile_type == "release" || compile_type == "debug");
  if (snapshot.valid != valid)
    std::abort();

  service.Update(text);
  if (!(Take(service) == snapshot))
    std::abort();
  return 0;
}
