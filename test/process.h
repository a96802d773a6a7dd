#ifndef TEST_PROCESS_H_
#define TEST_PROCESS_H_

#include <sys/types.h>

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

// How a child process ended.
struct ProcessEnd {
  bool exited = false;  // it exited, with status
  int status = -1;      // the exit status as the shell sees it (0-255)
  int signal = 0;       // the signal that ended it, when it did not exit
  // ChildProcess::Wait only: the program's peak resident set size.
  long peak_rss_kib = 0;
};

// A child process that runs while the test goes on, with the test's own
// output. The destructor kills (SIGKILL) and reaps a child still running.
class ChildProcess {
 public:
  // Starts program as RunProcess does. A child that could not be started
  // fails the current test; pid() is then -1.
  ChildProcess(const std::string& program,
               const std::vector<std::string>& arguments);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  void Kill(int signal) const;
  // Waits for the child to end; a failure of waitpid fails the test.
  ProcessEnd Wait();

 private:
  pid_t pid_;
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
