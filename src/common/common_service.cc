#include "common/common_service.h"

#include <optional>
#include <utility>

#include "base/json/json_value.h"
#include "base/logging/logging.h"
#include "base/utils/string_util.h"
#include "base/utils/sys_info.h"

namespace tlv {

namespace {

// The texts that the common_info member of the same name sets.
constexpr std::pair<std::string_view, std::string CommonInfo::*> kTexts[] = {
    {"app_version", &CommonInfo::app_version},
    {"package_name", &CommonInfo::package_name},
    {"channel", &CommonInfo::channel},
    {"app_id", &CommonInfo::app_id},
    {"region", &CommonInfo::region},
    {"compile_type", &CommonInfo::compile_type},
    {"user_device_id", &CommonInfo::user_device_id},
    {"user_id", &CommonInfo::user_id},
    {"symbol_id", &CommonInfo::symbol_id},
    {"engine_type", &CommonInfo::engine_type},
    {"sdk_version", &CommonInfo::sdk_version},
    {"device_id", &CommonInfo::device_id},
    {"a_id", &CommonInfo::a_id},
    {"lifecycle_id", &CommonInfo::lifecycle_id},
    {"platform", &CommonInfo::platform},
    {"cpu_architecture", &CommonInfo::cpu_architecture},
    {"rom", &CommonInfo::rom},
    {"brand", &CommonInfo::brand},
    {"device_model", &CommonInfo::device_model},
    {"system_version", &CommonInfo::system_version},
};

// Stores the member name of common_info in field when it is a non-empty
// string; anything else leaves field as it is.
void TakeText(const base::JsonValue& common_info,
              std::string_view name,
              std::string& field) {
  std::optional<std::string> text = common_info.GetString(name);
  if (text && !text->empty())
    field = std::move(*text);
}

}  // namespace

CommonService::CommonService() {
  std::lock_guard lock(mutex_);
  info_.lrsag = 1;
  info_.sdk_version = kKitVersion;
  info_.plugin_version = kKitVersion;
  info_.compile_type = "release";
  info_.platform = base::utils::GetPlatformName();
  info_.lifecycle_id = base::utils::RandomString();
  info_.cpu_architecture = base::utils::GetCpuArchitecture();
  info_.rom = base::utils::GetRomName();
  info_.is_root = base::utils::IsRooted();
}

CommonService::~CommonService() = default;

void CommonService::Update(std::string_view common_info) {
  // Every getter yields nothing unless the value is an object, so text that
  // is not one reads as an object without members.
  const base::JsonValue json = base::JsonValue::Parse(common_info);

  std::lock_guard lock(mutex_);
  for (const auto& [name, field] : kTexts)
    TakeText(json, name, info_.*field);

  if (std::optional<std::string> area = json.GetString("area");
      area && !area->empty()) {
    ProcessArea_(*area);
  }

  // A device id, once made, stays for the life of the process.
  if (info_.device_id.empty())
    info_.device_id = base::utils::RandomString();

  // The device's name is private unless the host opts in; without the
  // switch, a device_name member alone changes nothing.
  if (std::optional<bool> use = json.GetBool("use_device_name")) {
    info_.use_device_name = *use;
    info_.device_name.clear();
    if (*use) {
      TakeText(json, "device_name", info_.device_name);
      if (info_.device_name.empty())
        info_.device_name = base::utils::GetComputerName();
    }
  }

  if (std::optional<bool> is_root = json.GetBool("is_root"))
    info_.is_root = *is_root;
  if (std::optional<int32_t> lrsag = json.GetInt("lrsag"))
    info_.lrsag = *lrsag;

  FillSystemInfo_();
}

bool CommonService::IsValid() {
  std::lock_guard lock(mutex_);
  return !info_.app_id.empty() && (info_.area == "cn" || info_.area == "os") &&
         (info_.compile_type == "debug" || info_.compile_type == "release");
}

int32_t CommonService::GetArea() {
  std::lock_guard lock(mutex_);
  return area_;
}

int32_t CommonService::GetFtcSwitch() {
  std::lock_guard lock(mutex_);
  return ftc_switch_;
}

void CommonService::SetFtcSwitch(int32_t level) {
  std::lock_guard lock(mutex_);
  const int32_t previous = ftc_switch_;
  ftc_switch_ = level;
  if (level != previous)
    FillSystemInfo_();
}

std::string CommonService::GetAppVersion() {
  return Get_(&CommonInfo::app_version, Filter::kNone);
}
std::string CommonService::GetPackageName() {
  return Get_(&CommonInfo::package_name, Filter::kNone);
}
std::string CommonService::GetChannel() {
  return Get_(&CommonInfo::channel, Filter::kNone);
}
std::string CommonService::GetAppId() {
  return Get_(&CommonInfo::app_id, Filter::kNone);
}
std::string CommonService::GetRegion() {
  return Get_(&CommonInfo::region, Filter::kNone);
}
std::string CommonService::GetCompileType() {
  return Get_(&CommonInfo::compile_type, Filter::kNone);
}
std::string CommonService::GetAreaText() {
  return Get_(&CommonInfo::area, Filter::kNone);
}
std::string CommonService::GetUserDeviceId() {
  return Get_(&CommonInfo::user_device_id, Filter::kIdentity);
}
std::string CommonService::GetUserId() {
  return Get_(&CommonInfo::user_id, Filter::kIdentity);
}
std::string CommonService::GetLifecycleId() {
  return Get_(&CommonInfo::lifecycle_id, Filter::kNone);
}
std::string CommonService::GetSymbolId() {
  return Get_(&CommonInfo::symbol_id, Filter::kNone);
}
std::string CommonService::GetAId() {
  return Get_(&CommonInfo::a_id, Filter::kIdentity);
}
std::string CommonService::GetPluginVersion() {
  return Get_(&CommonInfo::plugin_version, Filter::kNone);
}
std::string CommonService::GetPlatform() {
  return Get_(&CommonInfo::platform, Filter::kNone);
}
std::string CommonService::GetDeviceModel() {
  return Get_(&CommonInfo::device_model, Filter::kDevice);
}
std::string CommonService::GetBrand() {
  return Get_(&CommonInfo::brand, Filter::kDevice);
}
std::string CommonService::GetDeviceName() {
  return Get_(&CommonInfo::device_name, Filter::kDevice);
}
std::string CommonService::GetSystemVersion() {
  return Get_(&CommonInfo::system_version, Filter::kDevice);
}
std::string CommonService::GetCpuArchitecture() {
  return Get_(&CommonInfo::cpu_architecture, Filter::kNone);
}
std::string CommonService::GetRom() {
  return Get_(&CommonInfo::rom, Filter::kNone);
}
std::string CommonService::GetDeviceId() {
  return Get_(&CommonInfo::device_id, Filter::kNone);
}
std::string CommonService::GetSdkVersion() {
  return Get_(&CommonInfo::sdk_version, Filter::kNone);
}

bool CommonService::IsRoot() {
  std::lock_guard lock(mutex_);
  return info_.is_root;
}

std::string CommonService::Get_(std::string CommonInfo::*field, Filter filter) {
  std::lock_guard lock(mutex_);
  if (Hides_(filter))
    return std::string();
  return info_.*field;
}

bool CommonService::Hides_(Filter filter) const {
  // Mainland reports are never filtered, nor any when lrsag is not 1. An
  // area not yet set counts as oversea.
  if (info_.lrsag != 1 || area_ == kAreaMainland)
    return false;
  switch (filter) {
    case Filter::kNone:
      return false;
    case Filter::kIdentity:
      return ftc_switch_ == 1 || ftc_switch_ == 2;
    case Filter::kDevice:
      return ftc_switch_ == 2;
  }
  return false;
}

void CommonService::ProcessArea_(const std::string& area) {
  if (area_ != kAreaNone) {
    TLV_LOG(base::logging::kError, "Area is already set, can't set again");
    return;
  }
  if (area == "cn") {
    area_ = kAreaMainland;
  } else if (area == "os") {
    area_ = kAreaOversea;
  } else {
    TLV_LOG(base::logging::kError, "Invalid area: {}", area);
    return;
  }
  info_.area = area;
}

void CommonService::FillSystemInfo_() {
  // At level 2 outside the mainland the description would be hidden anyway,
  // so the machine is not asked for it.
  if (Hides_(Filter::kDevice))
    return;
  if (info_.system_version.empty())
    info_.system_version = base::utils::GetSystemVersion();
  if (info_.brand.empty())
    info_.brand = base::utils::GetSystemManufacturer();
  if (info_.device_model.empty())
    info_.device_model = base::utils::GetProductName();
}

}  // namespace tlv
