#include "test/unzip.h"

#include <sstream>

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

}  // namespace test
