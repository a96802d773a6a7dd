#include "crash_plugin/report_process/launch_configuration.h"

#include <cmath>

#include "base/json/base64.h"

namespace tlv {
namespace {

// Truncates toward zero. A real outside the 64-bit range (1e300, say) has
// no meaningful server time; it is treated like a missing member instead of
// being converted, which would be undefined.
bool RealToInt64(double real, int64_t& out) {
  // 2^63 is exactly representable; every double below it converts.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(real) || real >= kLimit || real < -kLimit)
    return false;
  out = static_cast<int64_t>(real);
  return true;
}

}  // namespace

LaunchConfiguration ParseLaunchConfiguration(std::string_view argument) {
  LaunchConfiguration config;
  const base::JsonValue root =
      base::JsonValue::Parse(base::utils::Base64Decode(argument));
  if (root.kind() != base::JsonKind::Object)
    return config;

  auto read_text = [&root](std::string_view name, std::string& field) {
    if (auto text = root.GetString(name))
      field = std::move(*text);
  };

  read_text("common_info", config.common_info);
  if (auto custom_data = root.GetValue("custom_data"))
    config.custom_data = std::move(*custom_data);
  read_text("dmp_path", config.dmp_path);
  read_text("work_dir", config.work_dir);
  read_text("use_duration_millis", config.use_duration_millis);
  if (auto server_time = root.GetReal("server_time"))
    RealToInt64(*server_time, config.server_time);
  read_text("free_memory", config.free_memory);
  read_text("free_disk_size", config.free_disk_size);
  read_text("dmp_dir_path", config.dmp_dir_path);
  read_text("package_log_pattern", config.package_log_pattern);
  config.log_level = root.GetInt("log_level").value_or(4);
  config.log_dest = root.GetInt("log_dest").value_or(0);
  config.start_mode = root.GetInt("start_mode").value_or(1);
  config.remain_file = root.GetBool("remain_file").value_or(false);
  config.is_package_log = root.GetBool("is_package_log").value_or(false);
  config.ftc_switch = root.GetInt("ftc_switch").value_or(0);
  return config;
}

}  // namespace tlv
