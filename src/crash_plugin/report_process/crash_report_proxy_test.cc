// The Windows executable under Wine on a machine whose player set a proxy
// in Windows' Internet Options: its reports and events reach the local
// receiving service through that proxy.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "crash_plugin/report_process/crash_report_job_fixture.h"
#include "gtest/gtest.h"
#include "test/crashreport_under_test.h"
#include "test/forward_proxy.h"
#include "test/process.h"
#include "tools/receiving_service/receiving_service.h"

namespace {

namespace fs = std::filesystem;

constexpr char kConnections[] =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
    "Settings\\Connections";

// The current user's Internet Options of the Wine prefix name proxy, as
// Windows' settings write them, until the object goes. The layout of
// DefaultConnectionSettings: a version, a change counter, the flags (1
// direct, 2 named proxy), then the proxy, the bypass list and the script's
// URL, each as a 32-bit length and its text, and further fields left zero.
class ScopedWineProxySetting {
 public:
  explicit ScopedWineProxySetting(const std::string& proxy) {
    std::string settings;
    const auto add_number = [&settings](uint32_t number) {
      for (int i = 0; i < 4; ++i)
        settings += static_cast<char>((number >> (8 * i)) & 0xFF);
    };
    add_number(0x46);
    add_number(1);
    add_number(0x1 | 0x2);
    add_number(static_cast<uint32_t>(proxy.size()));
    settings += proxy;
    add_number(0);
    add_number(0);
    settings.append(32, '\0');
    std::string hex;
    for (unsigned char c : settings) {
      static constexpr char kDigits[] = "0123456789abcdef";
      hex += kDigits[c >> 4];
      hex += kDigits[c & 0xF];
    }
    EXPECT_EQ(
        test::RunProcess(test::WineLoader(), {"reg", "add", kConnections, "/v",
                                              "DefaultConnectionSettings", "/t",
                                              "REG_BINARY", "/d", hex, "/f"}),
        0);
  }
  ScopedWineProxySetting(const ScopedWineProxySetting&) = delete;
  ScopedWineProxySetting& operator=(const ScopedWineProxySetting&) = delete;
  ~ScopedWineProxySetting() {
    EXPECT_EQ(test::RunProcess(test::WineLoader(),
                               {"reg", "delete", kConnections, "/v",
                                "DefaultConnectionSettings", "/f"}),
              0);
  }
};

class CrashReportProxyTest : public test::CrashReportJobFixture {};

TEST_F(CrashReportProxyTest, ReportAndEventsGoThroughTheInternetOptionsProxy) {
  if (!test::CrashReportUnderWine())
    GTEST_SKIP() << "only the Windows executable reads Internet Options";
  test::ForwardProxy proxy;
  const ScopedWineProxySetting setting(proxy.address());
  StartService("accept");
  const std::string content = test::Pattern(100000);
  const std::string dump = AddFile("crash.dmp", content);

  Run(R"("start_mode":1,"dmp_dir_path":")" + Json(dumps_dir()) + "\"");

  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].verdict, "ok");
  EXPECT_TRUE(Received(uploads[0]) == content);
  EXPECT_FALSE(fs::exists(dump));
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"CrashReport: ROOT/crash.dmp,100000",
                                      "CrashReportScan: 1 files 0"}));
  const std::string service =
      "http://127.0.0.1:" + std::to_string(LOOPBACK_PORT);
  const std::string telemetry =
      service + "/common/h5log/log/batch?topic=plat_apm_sdk";
  EXPECT_EQ(proxy.forwarded(),
            (std::vector<std::string>{telemetry, service + "/apm/dataUpload",
                                      telemetry}));
}

}  // namespace
