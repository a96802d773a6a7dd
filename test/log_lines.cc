#include "test/log_lines.h"

#include <regex>
#include <sstream>

namespace test {

std::vector<std::string> LogLines(const std::string& log) {
  static const std::regex kLine(
      R"(\[Telvane:\d+:\d+:\d{4}/\d{6}\.\d{3}:\d+:([A-Z]+):([^(]+)\(\d+\)\] (.*))");
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    // The Windows executable writes its log in text mode: CRLF.
    if (line.ends_with('\r'))
      line.pop_back();
    std::smatch match;
    lines.push_back(std::regex_match(line, match, kLine)
                        ? match.str(1) + " " + match.str(2) + ": " +
                              match.str(3)
                        : "unreadable: " + line);
  }
  return lines;
}

}  // namespace test
