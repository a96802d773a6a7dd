#ifndef TEST_CRASHREPORT_UNDER_TEST_H_
#define TEST_CRASHREPORT_UNDER_TEST_H_

#include <string>
#include <vector>

namespace test {

// The crashreport executable that a whole-process test runs: the one this
// build made, or, when the environment variable TLV_WINDOWS_BUILD_DIR names
// a Windows build directory, the same program of that build
// (<dir>/<name>.exe) under Wine (/usr/lib/wine/wine64, or TLV_WINE). Wine
// shows the machine's files to the Windows program through drive Z:, so
// /tmp/a is Z:\tmp\a there; the functions below give a test the paths as
// the program under test names them. Wine's own settings (WINEPREFIX, a
// running wineserver) are the caller's.

// A program and its arguments, argv[0] not included.
struct Command {
  std::string program;
  std::vector<std::string> arguments;
};

// Whether the Windows executable under Wine is under test.
bool CrashReportUnderWine();

// The Wine loader that runs it: TLV_WINE, or /usr/lib/wine/wine64.
std::string WineLoader();

// The command that runs the executable under test, built being this
// build's (CRASHREPORT_EXE), with arguments.
Command CrashReportCommand(const std::string& built,
                           std::vector<std::string> arguments);

// Runs CrashReportCommand(built, arguments) as RunProcess does.
int RunCrashReport(const std::string& built,
                   const std::vector<std::string>& arguments);

// The system's CA bundle, which libcurl and Wine's crypt32 read.
inline constexpr char kSystemCaBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// command, run so that it trusts the root certificate in root_file (PEM)
// besides the system's roots, without a change to the machine or to the
// program: in a mount namespace of its own (unshare; root, or user
// namespaces for others), where a copy of kSystemCaBundle with the root
// added, written to bundle_file, stands in for the bundle. Under Wine,
// crypt32 copies the roots it read into the Wine prefix's root store, where
// the running wineserver keeps them until it ends.
Command TrustingRoot(Command command,
                     const std::string& root_file,
                     const std::string& bundle_file);

// command with its environment changed: "NAME=value" sets NAME, "NAME"
// removes it.
Command WithEnvironment(Command command,
                        const std::vector<std::string>& changes);

// The current user's Internet Options of the Wine prefix name proxy
// ("host:port") as Windows' settings write them, until the object goes.
class ScopedWineProxySetting {
 public:
  explicit ScopedWineProxySetting(const std::string& proxy);
  ScopedWineProxySetting(const ScopedWineProxySetting&) = delete;
  ScopedWineProxySetting& operator=(const ScopedWineProxySetting&) = delete;
  ~ScopedWineProxySetting();
};

// The absolute path as the host of the executable under test hands it
// over: itself, or under Wine Z:\tmp\a (backslashes).
std::string PathGivenToCrashReport(const std::string& path);

// PathGivenToCrashReport(path), ready to stand inside a JSON string (its
// backslashes escaped).
std::string JsonPathForCrashReport(const std::string& path);

// The absolute path as the executable under test writes it in its log and
// its events: itself, or under Wine "Z:/tmp/a" (its paths hold '/').
std::string PathShownByCrashReport(const std::string& path);

}  // namespace test

#endif  // TEST_CRASHREPORT_UNDER_TEST_H_
