#include "base/utils/sys_info.h"

namespace base::utils {

// Reports describe the kit's own platform to the service, which knows the
// kit as a Windows x86_64 product. These stay the same on every build so that
// a report from a development build reads like one from the field.

std::string GetPlatformName() {
  return "Windows";
}

std::string GetCpuArchitecture() {
  return "x86_64";
}

std::string GetRomName() {
  return "Microsoft";
}

bool IsRooted() {
  return false;
}

}  // namespace base::utils
