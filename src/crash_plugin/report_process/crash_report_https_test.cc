// The real executable as players run it: over HTTPS, with the server's
// certificate checked, directly or through a forward proxy (Squid). The
// local receiving service ends TLS itself with certificates that the test
// makes; the executable trusts the test's root only inside a mount
// namespace of its own (test::TrustingRoot), so nothing of it is in the
// program. Natively the proxy comes from the environment, under Wine from
// the Internet Options.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crash_plugin/report_process/crash_report_job_fixture.h"
#include "gtest/gtest.h"
#include "test/crashreport_under_test.h"
#include "test/process.h"
#include "test/test_certificates.h"
#include "tools/receiving_service/receiving_service.h"

namespace {

using Server = test::TestCertificates::Server;

// The host name of the executable's endpoints, which the certificates name.
constexpr char kHost[] = "localhost";

// The forward proxy's ports (test/squid_proxy.sh).
constexpr int kTunnellingProxy = PROXY_PORT;
constexpr int kRefusingProxy = PROXY_PORT + 1;
constexpr int kAuthenticatingProxy = PROXY_PORT + 2;

class CrashReportHttpsTest : public test::CrashReportJobFixture {
 protected:
  // The service speaks HTTPS with a server certificate of that kind.
  void StartHttpsService(Server kind) {
    const test::TestCertificates::ServerFiles files = certificates_.Issue(kind);
    tools::ReceivingService::Options options;
    options.tls_certificate = files.certificate;
    options.tls_key = files.key;
    StartService(std::move(options));
  }

  // Runs a scan of dumps_dir() trusting the test's root, its environment
  // changed as WithEnvironment takes it, through proxy when one is named:
  // from the environment natively (the variables curl reads), from the
  // Internet Options under Wine.
  void RunScan(std::vector<std::string> environment, int proxy = 0) {
    std::unique_ptr<test::ScopedWineProxySetting> proxy_setting;
    if (proxy != 0) {
      const std::string address = "127.0.0.1:" + std::to_string(proxy);
      if (test::CrashReportUnderWine()) {
        proxy_setting = std::make_unique<test::ScopedWineProxySetting>(address);
      } else {
        // Every test runs with no_proxy naming localhost.
        environment.insert(
            environment.end(),
            {"no_proxy", "NO_PROXY", "https_proxy=http://" + address});
      }
    }
    const test::Command command = test::TrustingRoot(
        test::WithEnvironment(test::CrashReportCommand(
                                  CRASHREPORT_EXE, {Argument(ScanMembers())}),
                              environment),
        certificates_.root_file(), temp_.path() + "/ca-certificates.crt");
    ASSERT_EQ(test::RunProcess(command.program, command.arguments), 0);
  }

  // The lines of the process's log that hold text.
  std::vector<std::string> LogLinesWith(const std::string& text) const {
    std::vector<std::string> lines;
    for (const std::string& line : ProcessLog()) {
      if (line.find(text) != std::string::npos)
        lines.push_back(line);
    }
    return lines;
  }

  // How many lines of the proxy's access log show a CONNECT to the service
  // with that result ("TCP_TUNNEL/200", "TCP_DENIED/403").
  static size_t ProxyLogLines(const std::string& result) {
    const std::string connect =
        "CONNECT " + std::string(kHost) + ":" + std::to_string(LOOPBACK_PORT);
    size_t count = 0;
    std::ifstream log(std::string(SQUID_DIR) + "/access.log");
    for (std::string line; std::getline(log, line);) {
      if (line.find(" " + result + " ") != std::string::npos &&
          line.find(connect) != std::string::npos) {
        ++count;
      }
    }
    return count;
  }
  // ProxyLogLines(result) once there are at least count, or after five
  // seconds: Squid writes a line when its connection has ended, which may
  // be just after the process.
  static size_t WaitForProxyLogLines(const std::string& result, size_t count) {
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ProxyLogLines(result) < count &&
           std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ProxyLogLines(result);
  }

  // The run ended normally without reaching the service, kept the dump and
  // named the reason, expected, in the transport's error lines and in the
  // failure's event.
  void ExpectRefused(const std::string& dump,
                     const std::string& content,
                     const std::string& expected) {
    EXPECT_TRUE(RanToTheEnd());
    EXPECT_TRUE(service_->uploads().empty());
    EXPECT_TRUE(test::ReadFile(dump) == content);
    const std::vector<std::string> lines = LogLinesWith(expected);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& line) {
                              return line.starts_with("ERROR http_transport");
                            }))
        << expected;
    const std::vector<std::string> events =
        LogLinesWith("event: CrashReportFailed");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find(expected), std::string::npos) << events[0];
  }

  test::TestCertificates certificates_{temp_.path(), kHost};
};

TEST_F(CrashReportHttpsTest, ReportAndEventsGoOverHttps) {
  log_level_ = 1;  // the protocols chosen are logged at DEBUG
  StartHttpsService(Server::kGood);
  const std::string content = test::Pattern(100000);
  AddFile("crash.dmp", content);

  RunScan({});

  ExpectOneDumpDelivered(content);
  if (test::CrashReportUnderWine()) {
    // Asked of every session, logged once: the first session's choice.
    EXPECT_EQ(LogLinesWith("HTTPTransport TLS").size(), 1u);
    EXPECT_TRUE(Logged("DEBUG http_tls_win.cc: HTTPTransport TLS 1.2 and 1.3"));
  }
}

// Wine's WinHTTP calls no status callback and reports every failed check of
// a certificate, and a handshake on a tunnel that the proxy refused, as a
// failed secure channel; Windows names each problem through the callback
// (CertificateProblemTextTest), and hands the proxy's refusal over as the
// answer's status.
constexpr char kWineSecureChannelFailed[] = "; the secure channel failed";

// Each refusal holds for the report and the events alike; the variables
// that name CA files elsewhere do not make a root trusted.
TEST_F(CrashReportHttpsTest, CertificateThatFailsItsCheckKeepsTheDump) {
  struct Case {
    const char* name;
    Server server;
    std::vector<std::string> environment;
    const char* curl_text;
  };
  const std::string untrusted_root = certificates_.untrusted_root_file();
  const std::vector<Case> cases = {
      {"untrusted root",
       Server::kUntrustedRoot,
       {},
       "SSL certificate problem: unable to get local issuer certificate"},
      {"another host name",
       Server::kOtherHostName,
       {},
       "no alternative certificate subject name matches target host name "
       "'localhost'"},
      {"expired",
       Server::kExpired,
       {},
       "SSL certificate problem: certificate has expired"},
      {"untrusted root named by the variables for CA files",
       Server::kUntrustedRoot,
       {"SSL_CERT_FILE=" + untrusted_root, "SSL_CERT_DIR=" + temp_.path(),
        "CURL_CA_BUNDLE=" + untrusted_root},
       "SSL certificate problem: unable to get local issuer certificate"},
  };
  const std::string content = test::Pattern(100000);
  const std::string dump = AddFile("crash.dmp", content);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartHttpsService(c.server);

    RunScan(c.environment);

    ExpectRefused(
        dump, content,
        test::CrashReportUnderWine() ? kWineSecureChannelFailed : c.curl_text);
  }
}

TEST_F(CrashReportHttpsTest, ReportGoesThroughTheProxyTunnel) {
  log_level_ = 1;  // the proxy's route is logged at DEBUG
  StartHttpsService(Server::kGood);
  const std::string content = test::Pattern(100000);
  AddFile("crash.dmp", content);
  const size_t tunnels = ProxyLogLines("TCP_TUNNEL/200");

  RunScan({}, kTunnellingProxy);

  ExpectOneDumpDelivered(content);
  if (!test::CrashReportUnderWine()) {
    // An event, the report, an event: a tunnel each.
    EXPECT_EQ(WaitForProxyLogLines("TCP_TUNNEL/200", tunnels + 3), tunnels + 3);
  } else {
    // Wine keeps a connection open for the process's next request to the
    // same server, tunnel included.
    EXPECT_GE(WaitForProxyLogLines("TCP_TUNNEL/200", tunnels + 1), tunnels + 1);
    // Decided at the first request to the service, kept for the others.
    EXPECT_EQ(LogLinesWith("HTTPTransport proxy for").size(), 1u);
    EXPECT_TRUE(
        Logged("DEBUG http_proxy_win.cc: HTTPTransport proxy for "
               "https://localhost:" +
               std::to_string(LOOPBACK_PORT) + ": proxy 127.0.0.1:" +
               std::to_string(kTunnellingProxy) + " (Internet Options)"));
  }
}

TEST_F(CrashReportHttpsTest, ProxyThatRefusesTheTunnelKeepsTheDump) {
  struct Case {
    const char* name;
    int proxy;
    const char* squid_result;
    const char* curl_text;
  };
  const std::vector<Case> cases = {
      {"tunnel refused", kRefusingProxy, "TCP_DENIED/403",
       "CONNECT tunnel failed, response 403"},
      {"authentication wanted", kAuthenticatingProxy, "TCP_DENIED/407",
       "CONNECT tunnel failed, response 407"},
  };
  const std::string content = test::Pattern(100000);
  const std::string dump = AddFile("crash.dmp", content);
  StartHttpsService(Server::kGood);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t refusals = ProxyLogLines(c.squid_result);

    RunScan({}, c.proxy);

    ExpectRefused(
        dump, content,
        test::CrashReportUnderWine() ? kWineSecureChannelFailed : c.curl_text);
    EXPECT_GE(WaitForProxyLogLines(c.squid_result, refusals + 1), refusals + 1);
  }
}

}  // namespace
