#ifndef COMMON_COMMON_SERVICE_H_
#define COMMON_COMMON_SERVICE_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace tlv {

// Area codes. The area is set once from the host's common information and
// chooses the endpoints every report goes to.
inline constexpr int32_t kAreaNone = 0;
inline constexpr int32_t kAreaMainland = 1;  // "cn"
inline constexpr int32_t kAreaOversea = 2;   // "os"

// The kit's version, reported as both sdk_version (unless the host sends its
// own) and plugin_version.
inline constexpr std::string_view kKitVersion = "2.40.0.9";

// The host's common information, completed with defaults and with the
// machine's own description. Each field is set by the common_info member of
// the same name, unless noted.
struct CommonInfo {
  std::string app_version;
  std::string package_name;
  std::string channel;
  std::string app_id;
  std::string region;
  std::string compile_type;
  std::string area;  // "cn" or "os" once an area is set
  std::string user_device_id;
  std::string user_id;
  std::string lifecycle_id;
  std::string symbol_id;
  std::string a_id;
  std::string engine_type;
  std::string plugin_version;  // always the kit's version
  std::string platform;
  std::string device_model;
  std::string brand;
  std::string device_name;  // only through use_device_name
  std::string system_version;
  std::string cpu_architecture;
  std::string rom;
  std::string device_id;
  std::string sdk_version;
  int32_t lrsag = 1;
  bool is_root = false;
  bool use_device_name = false;
};

// Holds the common information and the area, and hides identifying values
// when the host asks for privacy through the ftc switch:
//   0  nothing is hidden;
//   1  user identifiers are hidden (user id, user device id, a_id);
//   2  the device description is hidden too (model, brand, device name,
//      system version).
// The filter applies only while lrsag is 1 and the area is not mainland
// ("cn"); it changes what the accessors return, never what is stored.
//
// One mutex guards everything; any thread may call any operation.
class CommonService final {
 public:
  // Fills the defaults; the machine's description is read at the first
  // SetFtcSwitch.
  CommonService();
  CommonService(const CommonService&) = delete;
  CommonService& operator=(const CommonService&) = delete;
  ~CommonService();

  // Takes over the members of the common_info JSON object. A member that is
  // absent, of another JSON kind or (for texts) empty leaves its field
  // unchanged; text that is not a JSON object changes only what is derived
  // without input (a device id, the machine's description).
  void Update(std::string_view common_info);

  // True when app_id is set, the area is "cn" or "os" and compile_type is
  // "debug" or "release".
  bool IsValid();

  int32_t GetArea();

  // -1 until the application context sets the level.
  int32_t GetFtcSwitch();
  void SetFtcSwitch(int32_t level);

  std::string GetAppVersion();
  std::string GetPackageName();
  std::string GetChannel();
  std::string GetAppId();
  std::string GetRegion();
  std::string GetCompileType();
  std::string GetAreaText();
  std::string GetUserDeviceId();  // hidden from level 1
  std::string GetUserId();        // hidden from level 1
  std::string GetLifecycleId();
  std::string GetSymbolId();
  std::string GetAId();  // hidden from level 1
  std::string GetPluginVersion();
  std::string GetPlatform();
  std::string GetDeviceModel();    // hidden at level 2
  std::string GetBrand();          // hidden at level 2
  std::string GetDeviceName();     // hidden at level 2
  std::string GetSystemVersion();  // hidden at level 2
  std::string GetCpuArchitecture();
  std::string GetRom();
  std::string GetDeviceId();
  std::string GetSdkVersion();
  bool IsRoot();

 private:
  enum class Filter { kNone, kIdentity, kDevice };

  // A copy of one field, or an empty text when filter hides it.
  std::string Get_(std::string CommonInfo::*field, Filter filter);
  // Whether the switch level hides values of filter. Mutex held.
  bool Hides_(Filter filter) const;
  // Sets the area from "cn" or "os", once. Mutex held.
  void ProcessArea_(const std::string& area);
  // Fills the machine's description into the empty fields, unless the
  // device filter applies. Mutex held.
  void FillSystemInfo_();

  std::mutex mutex_;
  int32_t area_ = kAreaNone;
  int32_t ftc_switch_ = -1;
  CommonInfo info_;
};

}  // namespace tlv

#endif  // COMMON_COMMON_SERVICE_H_
