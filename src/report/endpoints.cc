// Built once per host configuration (see cmake/Endpoints.cmake): the hosts
// arrive as the TLV_*_HOST* definitions.

#include "report/endpoints.h"

#include "common/common_service.h"

namespace tlv {
namespace {

constexpr bool kDevelopment = TLV_ENDPOINTS_DEVELOPMENT;
constexpr char kDataUploadPath[] = "/apm/dataUpload";
constexpr char kTelemetryPath[] = "common/h5log/log/batch?topic=plat_apm_sdk";

struct Hosts {
  const char* mainland;
  const char* oversea;
  const char* development;
};

std::string UrlFor(int32_t area, const Hosts& hosts, const char* path) {
  if (kDevelopment)
    return std::string(hosts.development) + path;
  switch (area) {
    case kAreaMainland:
      return std::string(hosts.mainland) + path;
    case kAreaOversea:
      return std::string(hosts.oversea) + path;
    default:
      return std::string();
  }
}

}  // namespace

std::string GetDataUploadUrl(int32_t area) {
  static constexpr Hosts kHosts = {TLV_UPLOAD_HOST_CN, TLV_UPLOAD_HOST_OS,
                                   TLV_DEV_UPLOAD_HOST};
  return UrlFor(area, kHosts, kDataUploadPath);
}

std::string GetTelemetryUrl(int32_t area) {
  static constexpr Hosts kHosts = {TLV_TELEMETRY_HOST_CN, TLV_TELEMETRY_HOST_OS,
                                   TLV_DEV_API_HOST};
  return UrlFor(area, kHosts, kTelemetryPath);
}

}  // namespace tlv
