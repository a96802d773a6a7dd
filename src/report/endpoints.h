#ifndef REPORT_ENDPOINTS_H_
#define REPORT_ENDPOINTS_H_

#include <cstdint>
#include <string>

namespace tlv {

// The service URLs for an area (1 mainland, 2 oversea), built afresh on each
// call so that a change of area applies to the next request. An area without
// an endpoint gives the empty URL, which the transport refuses with "url is
// empty". The hosts are fixed when the program is built; a development build
// sends everything to its two development hosts, whatever the area.

// The data-upload service: host + "/apm/dataUpload".
std::string GetDataUploadUrl(int32_t area);

// The log-collection service: host +
// "common/h5log/log/batch?topic=plat_apm_sdk".
std::string GetTelemetryUrl(int32_t area);

}  // namespace tlv

#endif  // REPORT_ENDPOINTS_H_
