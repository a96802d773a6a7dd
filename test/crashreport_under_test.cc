#include "test/crashreport_under_test.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "gtest/gtest.h"
#include "test/process.h"

namespace test {
namespace {

// Where the current user's Internet Options keep the proxy.
constexpr char kConnections[] =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
    "Settings\\Connections";

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

Command TrustingRoot(Command command,
                     const std::string& root_file,
                     const std::string& bundle_file) {
  {
    std::ofstream bundle(bundle_file, std::ios::binary);
    bundle << std::ifstream(kSystemCaBundle, std::ios::binary).rdbuf()
           << std::ifstream(root_file, std::ios::binary).rdbuf();
    EXPECT_TRUE(bundle.good()) << bundle_file;
  }
  std::vector<std::string> arguments = {"--mount"};
  // Others than root may make a mount namespace inside a user namespace of
  // their own, as its root.
  if (geteuid() != 0)
    arguments.push_back("--map-root-user");
  // unshare makes the new namespace's mounts private: the bind mount is
  // never seen outside.
  arguments.insert(arguments.end(), {"sh", "-c",
                                     std::string("mount --bind \"$0\" ") +
                                         kSystemCaBundle + " && exec \"$@\"",
                                     bundle_file, command.program});
  arguments.insert(arguments.end(), command.arguments.begin(),
                   command.arguments.end());
  return {"unshare", std::move(arguments)};
}

Command WithEnvironment(Command command,
                        const std::vector<std::string>& changes) {
  std::vector<std::string> arguments;
  for (const std::string& change : changes) {
    if (change.find('=') == std::string::npos)
      arguments.push_back("-u");
    arguments.push_back(change);
  }
  arguments.push_back(command.program);
  arguments.insert(arguments.end(), command.arguments.begin(),
                   command.arguments.end());
  return {"env", std::move(arguments)};
}

// The layout of DefaultConnectionSettings: a version, a change counter, the
// flags (1 direct, 2 named proxy), then the proxy, the bypass list and the
// script's URL, each as a 32-bit length and its text, and further fields
// left zero.
ScopedWineProxySetting::ScopedWineProxySetting(const std::string& proxy) {
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
  EXPECT_EQ(RunProcess(WineLoader(), {"reg", "add", kConnections, "/v",
                                      "DefaultConnectionSettings", "/t",
                                      "REG_BINARY", "/d", hex, "/f"}),
            0);
}

ScopedWineProxySetting::~ScopedWineProxySetting() {
  EXPECT_EQ(RunProcess(WineLoader(), {"reg", "delete", kConnections, "/v",
                                      "DefaultConnectionSettings", "/f"}),
            0);
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
