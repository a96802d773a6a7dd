// ParseLaunchConfiguration on arbitrary launch arguments.
//
// Each input is tried twice: as the raw argument, which mostly exercises the
// Base64 layer, and as the JSON text inside a well-formed argument, which
// exercises the members. Whatever the argument, the record is one of the
// documented outcomes: an unreadable argument gives the object defaults, a
// root that is not an object the record as constructed; texts carry no zero
// byte; server_time is the real truncated toward zero, or 0 when no 64-bit
// integer holds it. An argument rewritten by our own writer (Parse, ToText,
// Base64Encode) gives the same record: the host and this process may write
// the same configuration differently.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/json/base64.h"
#include "base/json/json_value.h"
#include "crash_plugin/report_process/launch_configuration.h"
#include "test/json_tree.h"

namespace {

using tlv::LaunchConfiguration;

bool SameConfiguration(const LaunchConfiguration& a,
                       const LaunchConfiguration& b) {
  return test::SameJsonTree(a.custom_data, b.custom_data) &&
         a.common_info == b.common_info && a.dmp_path == b.dmp_path &&
         a.work_dir == b.work_dir &&
         a.use_duration_millis == b.use_duration_millis &&
         a.free_memory == b.free_memory &&
         a.free_disk_size == b.free_disk_size &&
         a.dmp_dir_path == b.dmp_dir_path &&
         a.package_log_pattern == b.package_log_pattern &&
         a.server_time == b.server_time && a.log_level == b.log_level &&
         a.log_dest == b.log_dest && a.start_mode == b.start_mode &&
         a.ftc_switch == b.ftc_switch && a.is_package_log == b.is_package_log &&
         a.remain_file == b.remain_file;
}

bool HasZero(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

// What must hold of the record read from an argument holding `root`.
void CheckRecord(const base::JsonValue& root,
                 const LaunchConfiguration& config) {
  if (root.kind() != base::JsonKind::Object) {
    if (!SameConfiguration(config, LaunchConfiguration()))
      std::abort();
    return;
  }
  if (config.start_mode != root.GetInt("start_mode").value_or(1))
    std::abort();
  for (const std::string* text :
       {&config.common_info, &config.dmp_path, &config.work_dir,
        &config.use_duration_millis, &config.free_memory,
        &config.free_disk_size, &config.dmp_dir_path,
        &config.package_log_pattern}) {
    if (HasZero(*text))
      std::abort();
  }
  const double real = root.GetReal("server_time").value_or(0);
  const double truncated = std::trunc(real);
  // 2^63: the first real that no int64_t holds.
  const bool representable = std::fabs(truncated) < 9223372036854775808.0 ||
                             truncated == -9223372036854775808.0;
  if (static_cast<double>(config.server_time) !=
      (representable ? truncated : 0)) {
    std::abort();
  }
}

// The record from `argument`, checked, and the same record from the
// argument as our own writer puts it.
void ParseAndCheck(std::string_view argument) {
  const LaunchConfiguration config = tlv::ParseLaunchConfiguration(argument);
  const base::JsonValue root =
      base::JsonValue::Parse(base::utils::Base64Decode(argument));
  CheckRecord(root, config);

  const std::string rewritten = base::utils::Base64Encode(root.ToText());
  if (!SameConfiguration(tlv::ParseLaunchConfiguration(rewritten), config))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ParseAndCheck(input);
  ParseAndCheck(base::utils::Base64Encode(input));
  return 0;
}
