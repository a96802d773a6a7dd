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
