#ifndef TEST_PROCESS_LOG_H_
#define TEST_PROCESS_LOG_H_

#include <cstddef>
#include <string>

namespace test {

// Reads what the process-wide logger writes. That logger can be configured
// only once per process: the first ProcessLog configures it at the lowest
// level, into a file of a directory of its own, with one line per record of
// the form "<level number> <qualified function>: <message>", so that tests
// see who logged what.
class ProcessLog {
 public:
  ProcessLog();

  // What was logged since the previous Take, or since construction.
  std::string Take();

 private:
  size_t offset_;
};

}  // namespace test

#endif  // TEST_PROCESS_LOG_H_
