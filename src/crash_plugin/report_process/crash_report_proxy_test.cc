// The Windows executable under Wine on a machine whose player set a proxy
// in Windows' Internet Options: its reports and events reach the local
// receiving service through that proxy.

#include <string>
#include <vector>

#include "crash_plugin/report_process/crash_report_job_fixture.h"
#include "gtest/gtest.h"
#include "test/crashreport_under_test.h"
#include "test/forward_proxy.h"
#include "tools/receiving_service/receiving_service.h"

namespace {

class CrashReportProxyTest : public test::CrashReportJobFixture {};

TEST_F(CrashReportProxyTest, ReportAndEventsGoThroughTheInternetOptionsProxy) {
  if (!test::CrashReportUnderWine())
    GTEST_SKIP() << "only the Windows executable reads Internet Options";
  test::ForwardProxy proxy;
  const test::ScopedWineProxySetting setting(proxy.address());
  StartService("accept");
  const std::string content = test::Pattern(100000);
  AddFile("crash.dmp", content);

  Run(ScanMembers());

  ExpectOneDumpDelivered(content);
  const std::string service =
      "http://127.0.0.1:" + std::to_string(LOOPBACK_PORT);
  const std::string telemetry =
      service + "/common/h5log/log/batch?topic=plat_apm_sdk";
  EXPECT_EQ(proxy.forwarded(),
            (std::vector<std::string>{telemetry, service + "/apm/dataUpload",
                                      telemetry}));
}

}  // namespace
