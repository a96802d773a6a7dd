#ifndef TEST_LOG_LINES_H_
#define TEST_LOG_LINES_H_

#include <string>
#include <vector>

namespace test {

// The lines of a log file as "LEVEL file: message", without the parts that
// change from run to run (ids, times). A line of another form becomes
// "unreadable: <line>". Lines end with LF, or with CRLF as Windows writes
// them.
std::vector<std::string> LogLines(const std::string& log);

}  // namespace test

#endif  // TEST_LOG_LINES_H_
