#include "test/unzip.h"

#include <sstream>
#include <string_view>

#include "gtest/gtest.h"

namespace test {

ProcessResult Unzip(const std::vector<std::string>& arguments) {
  return RunProcessWithOutput("unzip", arguments, Capture::kStdoutAndStderr);
}

std::vector<std::string> ZipEntryNames(const std::string& archive) {
  const ProcessResult result = Unzip({"-Z1", archive});
  if (result.status != 0) {
    ADD_FAILURE() << "unzip -Z1 " << archive << ": status " << result.status
                  << "\n"
                  << result.output;
    return {};
  }
  std::vector<std::string> names;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);)
    names.push_back(line);
  return names;
}

std::string ZipEntryContent(const std::string& archive,
                            const std::string& name) {
  // Standard output carries nothing but the content; unzip's complaints go
  // to the test's standard error.
  const ProcessResult result =
      RunProcessWithOutput("unzip", {"-p", archive, name}, Capture::kStdout);
  if (result.status != 0) {
    ADD_FAILURE() << "unzip -p " << archive << " " << name << ": status "
                  << result.status;
  }
  return result.output;
}

::testing::AssertionResult ZipIsIntact(const std::string& archive) {
  const ProcessResult result = Unzip({"-t", archive});
  if (result.status == 0 &&
      result.output.find("No errors detected") != std::string::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "unzip -t " << archive << ": status " << result.status << "\n"
         << result.output;
}

std::string ZipEntryTime(const std::string& archive, const std::string& name) {
  // zipinfo's listing with -T ends each entry's line in its time as
  // yyyymmdd.hhmmss and its name.
  const ProcessResult result = Unzip({"-Z", "-T", archive});
  std::istringstream lines(result.output);
  const std::string ending = " " + name;
  for (std::string line; std::getline(lines, line);) {
    if (line.ends_with(ending)) {
      const std::string_view head(line.data(), line.size() - ending.size());
      return std::string(head.substr(head.rfind(' ') + 1));
    }
  }
  ADD_FAILURE() << "unzip -Z -T " << archive << ": no entry " << name
                << ", status " << result.status << "\n"
                << result.output;
  return std::string();
}

}  // namespace test
