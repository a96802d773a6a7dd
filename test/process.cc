#include "test/process.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>

#include "gtest/gtest.h"

extern char** environ;

namespace test {
namespace {

// Closes a descriptor when it goes away.
class ScopedFd final {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() { Reset(); }

  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0)
      close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

class ScopedFileActions final {
 public:
  ScopedFileActions() { posix_spawn_file_actions_init(&actions_); }
  ScopedFileActions(const ScopedFileActions&) = delete;
  ScopedFileActions& operator=(const ScopedFileActions&) = delete;
  ~ScopedFileActions() { posix_spawn_file_actions_destroy(&actions_); }

  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Runs the child, with its output collected when capture is set.
ProcessResult Run(const std::string& program,
                  const std::vector<std::string>& arguments,
                  std::optional<Capture> capture) {
  ProcessResult result;
  ScopedFd read_end;
  ScopedFd write_end;
  ScopedFileActions actions;
  if (capture) {
    int pipe_fds[2];
    // Close-on-exec, so that the child keeps only the ends it is given.
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2: " << strerror(errno);
      return result;
    }
    read_end.Reset(pipe_fds[0]);
    write_end.Reset(pipe_fds[1]);
    posix_spawn_file_actions_adddup2(actions.get(), write_end.get(),
                                     STDOUT_FILENO);
    if (*capture == Capture::kStdoutAndStderr) {
      posix_spawn_file_actions_adddup2(actions.get(), write_end.get(),
                                       STDERR_FILENO);
    }
  }

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid;
  const int error = posix_spawnp(&pid, program.c_str(), actions.get(), nullptr,
                                 argv.data(), environ);
  // The parent's write end must go, or the reads below never see the end.
  write_end.Reset();
  if (error != 0) {
    ADD_FAILURE() << "posix_spawnp " << program << ": " << strerror(error);
    return result;
  }

  if (capture) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(read_end.get(), buffer, sizeof(buffer));
      if (n > 0) {
        result.output.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
  }

  int status;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) {
    ADD_FAILURE() << "waitpid " << program << ": " << strerror(errno);
    return result;
  }
  if (!WIFEXITED(status)) {
    ADD_FAILURE() << program << " did not exit normally, status " << status;
    return result;
  }
  result.status = WEXITSTATUS(status);
  return result;
}

}  // namespace

int RunProcess(const std::string& program,
               const std::vector<std::string>& arguments) {
  return Run(program, arguments, std::nullopt).status;
}

ProcessResult RunProcessWithOutput(const std::string& program,
                                   const std::vector<std::string>& arguments,
                                   Capture capture) {
  return Run(program, arguments, capture);
}

}  // namespace test
