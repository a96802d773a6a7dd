#ifndef TEST_PROCESS_H_
#define TEST_PROCESS_H_

#include <string>
#include <vector>

namespace test {

// Runs program with the given arguments (argv[0] is program itself), waits
// for it and returns its exit status as the shell sees it (0-255). A
// process ended by a signal, or one that could not be started, fails the
// current test and yields -1.
int RunProcess(const std::string& program,
               const std::vector<std::string>& arguments);

}  // namespace test

#endif  // TEST_PROCESS_H_
