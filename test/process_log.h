#ifndef TEST_PROCESS_LOG_H_
#define TEST_PROCESS_LOG_H_

#include <string>

namespace test {

// The process-wide logger can be configured only once per process. The
// first call configures it at the lowest level with a log file in a
// directory of its own, which lives until the process ends; every call
// returns what has been logged so far.
std::string ProcessLog();

}  // namespace test

#endif  // TEST_PROCESS_LOG_H_
