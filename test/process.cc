#include "test/process.h"

#include <spawn.h>
#include <sys/wait.h>

#include "gtest/gtest.h"

extern char** environ;

namespace test {

int RunProcess(const std::string& program,
               const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid;
  const int error = posix_spawn(&pid, program.c_str(), nullptr, nullptr,
                                argv.data(), environ);
  if (error != 0) {
    ADD_FAILURE() << "posix_spawn " << program << ": " << strerror(error);
    return -1;
  }
  int status;
  if (waitpid(pid, &status, 0) != pid) {
    ADD_FAILURE() << "waitpid " << program;
    return -1;
  }
  if (!WIFEXITED(status)) {
    ADD_FAILURE() << program << " did not exit normally, status " << status;
    return -1;
  }
  return WEXITSTATUS(status);
}

}  // namespace test
