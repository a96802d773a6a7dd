#include "test/crashreport_under_test.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "test/process.h"

namespace test {
namespace {

const char* WindowsBuildDir() {
  const char* dir = std::getenv("TLV_WINDOWS_BUILD_DIR");
  return dir && *dir ? dir : nullptr;
}

}  // namespace

bool CrashReportUnderWine() {
  return WindowsBuildDir() != nullptr;
}

std::string WineLoader() {
  const char* wine = std::getenv("TLV_WINE");
  return wine && *wine ? wine : "/usr/lib/wine/wine64";
}

Command CrashReportCommand(const std::string& built,
                           std::vector<std::string> arguments) {
  const char* windows_build = WindowsBuildDir();
  if (!windows_build)
    return {built, std::move(arguments)};
  const std::filesystem::path exe =
      std::filesystem::path(windows_build) /
      (std::filesystem::path(built).filename().string() + ".exe");
  arguments.insert(arguments.begin(), exe.string());
  return {WineLoader(), std::move(arguments)};
}

int RunCrashReport(const std::string& built,
                   const std::vector<std::string>& arguments) {
  const Command command = CrashReportCommand(built, arguments);
  return RunProcess(command.program, command.arguments);
}

std::string PathGivenToCrashReport(const std::string& path) {
  if (!CrashReportUnderWine())
    return path;
  std::string given = "Z:" + path;
  std::replace(given.begin(), given.end(), '/', '\\');
  return given;
}

std::string JsonPathForCrashReport(const std::string& path) {
  std::string json;
  for (char c : PathGivenToCrashReport(path))
    json += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return json;
}

std::string PathShownByCrashReport(const std::string& path) {
  return CrashReportUnderWine() ? "Z:" + path : path;
}

}  // namespace test
