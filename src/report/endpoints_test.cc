#include "report/endpoints.h"

#include <string>

#include "common/common_service.h"
#include "gtest/gtest.h"

namespace tlv {
namespace {

// This test build sends everything to the local receiving service.
TEST(EndpointsTest, AreaSelectsTheHost) {
  const std::string host = "http://127.0.0.1:" + std::to_string(LOOPBACK_PORT);
  for (int32_t area : {kAreaMainland, kAreaOversea}) {
    SCOPED_TRACE(area);
    EXPECT_EQ(GetDataUploadUrl(area), host + "/apm/dataUpload");
    EXPECT_EQ(GetTelemetryUrl(area),
              host + "/common/h5log/log/batch?topic=plat_apm_sdk");
  }
  for (int32_t area : {kAreaNone, 3, -1}) {
    SCOPED_TRACE(area);
    EXPECT_EQ(GetDataUploadUrl(area), "");
    EXPECT_EQ(GetTelemetryUrl(area), "");
  }
}

}  // namespace
}  // namespace tlv
