#ifndef CRASH_PLUGIN_REPORT_PROCESS_LAUNCH_CONFIGURATION_H_
#define CRASH_PLUGIN_REPORT_PROCESS_LAUNCH_CONFIGURATION_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/json/json_value.h"

namespace tlv {

// The values of the launch argument: the Base64 text of a JSON object that
// the host passes as the process's one argument. Filled once at start-up and
// copied for every dump; a plain value (custom_data is copied deeply).
//
// Each member must have its JSON kind to be read; a member of another kind
// counts as missing. Texts are JSON strings (free_memory and the like hold
// numbers as text), server_time is a real (1.7e12), the integers are integer
// literals held as signed 32 bits, the flags are true or false.
struct LaunchConfiguration {
  // Host-defined data; an Object's members become the report's "CustomData".
  base::JsonValue custom_data;
  // The host's common information as JSON text, parsed by the common service.
  std::string common_info;
  // The one dump to report (start mode 2); each found dump in scan mode.
  std::string dmp_path;
  // Parent of the process's work directory (work_dir/crashreport).
  std::string work_dir;
  // How long the host ran, as text; cleared in scan mode.
  std::string use_duration_millis;
  std::string free_memory;
  std::string free_disk_size;
  // The directory scanned for dumps (start mode 1).
  std::string dmp_dir_path;
  // Regular expression for the log files packed with a dump; empty means
  // "Player.log$".
  std::string package_log_pattern;
  // The server's time in milliseconds since 1970, truncated toward zero.
  int64_t server_time = 0;
  // Logger threshold: 0 TRACE ... 5 FATAL.
  int32_t log_level = 4;
  // Bit mask: 1 the log file, 2 the console; 0 writes no log at all.
  int32_t log_dest = 0;
  // 1 scans dmp_dir_path, 2 reports dmp_path; 0 until an object was read.
  int32_t start_mode = 0;
  // Privacy level for the application context; only 0, 1 and 2 are kept.
  int32_t ftc_switch = 0;
  // In scan mode, pack each dump with the host's log files.
  bool is_package_log = false;
  // Keep each dump after the service accepted it.
  bool remain_file = false;
};

// Reads the launch argument. Never fails and logs nothing (logging does not
// exist yet when it runs): text that is not Base64 or not JSON gives an
// empty object, so every member takes its default and start_mode is 1; a
// root that is not an object leaves the record as constructed, start_mode 0.
LaunchConfiguration ParseLaunchConfiguration(std::string_view argument);

}  // namespace tlv

#endif  // CRASH_PLUGIN_REPORT_PROCESS_LAUNCH_CONFIGURATION_H_
