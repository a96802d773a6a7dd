#include "test/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

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

// Starts program with the file actions; -1, with the test failed, when it
// cannot.
pid_t Spawn(const std::string& program,
            const std::vector<std::string>& arguments,
            const posix_spawn_file_actions_t* actions) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid;
  const int error = posix_spawnp(&pid, program.c_str(), actions, nullptr,
                                 argv.data(), environ);
  if (error != 0) {
    ADD_FAILURE() << "posix_spawnp " << program << ": " << strerror(error);
    return -1;
  }
  return pid;
}

// Waits for the child pid; a failure of waitpid fails the test.
ProcessEnd Reap(pid_t pid) {
  ProcessEnd end;
  int status;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) {
    ADD_FAILURE() << "waitpid " << pid << ": " << strerror(errno);
    return end;
  }
  end.exited = WIFEXITED(status);
  end.status = end.exited ? WEXITSTATUS(status) : -1;
  end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return end;
}

// The peak resident set size of the running process pid, in KiB, as its
// /proc entry shows it; 0 once it has ended.
long PeakRssKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:"))
      return std::stol(line.substr(6));
  }
  return 0;
}

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

  const pid_t pid = Spawn(program, arguments, actions.get());
  // The parent's write end must go, or the reads below never see the end.
  write_end.Reset();
  if (pid < 0)
    return result;

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

  const ProcessEnd end = Reap(pid);
  if (!end.exited) {
    ADD_FAILURE() << program << " did not exit normally, signal " << end.signal;
    return result;
  }
  result.status = end.status;
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

ChildProcess::ChildProcess(const std::string& program,
                           const std::vector<std::string>& arguments)
    : pid_(Spawn(program, arguments, nullptr)) {}

ChildProcess::~ChildProcess() {
  if (pid_ >= 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
    Kill(SIGKILL);
    Reap(pid_);
  }
}

void ChildProcess::Kill(int signal) const {
  if (pid_ >= 0)
    kill(pid_, signal);
}

ProcessEnd ChildProcess::Wait() {
  if (pid_ < 0)
    return ProcessEnd();
  // wait4's ru_maxrss would not do: Linux counts in it the memory of this
  // process, which the child shares until its exec. The child's own peak
  // only grows, so its last reading before the end is the peak.
  long peak = 0;
  siginfo_t info{};
  while (waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0) {
    peak = std::max(peak, PeakRssKib(pid_));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ProcessEnd end = Reap(pid_);
  end.peak_rss_kib = peak;
  pid_ = -1;
  return end;
}

}  // namespace test
