#ifndef TEST_PROCESS_H_
#define TEST_PROCESS_H_

#include <string>
#include <vector>

namespace test {

struct ProcessResult {
  int status = -1;     // the exit status as the shell sees it (0-255)
  std::string output;  // what was captured, if anything
};

// What RunProcessWithOutput collects of the child's output; the rest goes
// where the test's own goes.
enum class Capture {
  kStdout,
  kStdoutAndStderr,
};

// Runs program (searched on PATH when it holds no '/') with the given
// arguments (argv[0] is program itself), waits for it and returns its exit
// status. A process ended by a signal, or one that could not be started,
// fails the current test and yields -1.
int RunProcess(const std::string& program,
               const std::vector<std::string>& arguments);

// As RunProcess, and collects the child's output as capture says.
ProcessResult RunProcessWithOutput(const std::string& program,
                                   const std::vector<std::string>& arguments,
                                   Capture capture);

}  // namespace test

#endif  // TEST_PROCESS_H_
