// An HTTP/1.1 server on 127.0.0.1 for the transport tests, run by CTest as
// a fixture and reached by the tests over loopback. It runs on the build
// machine in every build, so the test executables of a Windows build, run
// under Wine, reach a server just as the Linux ones do:
//
//   loopback_server start DIR   starts the server in the background, writes
//                               DIR/address and returns once it accepts
//   loopback_server stop DIR    ends it and removes DIR
//
// DIR/address holds "<port> <refusing port>": the server's port, and a port
// bound without listening, so that a connection to it is refused.
//
// The first segment of a request's path is the test's scope, so tests that
// run at the same time never see each other's requests. Every complete
// request (a head and as many body bytes as its Content-Length says) is kept
// exactly as it arrived, as DIR/requests/<scope>/<n>.head and <n>.body, n
// counting from 0 in each scope; the head holds the request line and the
// header lines, each ending in CRLF. The files are in place before the
// answer is sent, and a request that ends early leaves none. The rest of the
// path chooses the answer:
//
//   status/<N>   status N, body "reply"
//   status/<N>/retry-after/<S>   the same with the header "Retry-After: S"
//   fail-once    500 "busy" to the scope's first request, then 200 "accepted"
//   anything     200 "ok"
//
// Every answer closes its connection. The server ends on SIGTERM, or by
// itself after an hour without a connection, so that an interrupted test
// run leaves nothing running for long.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr int kIdleMilliseconds = 60 * 60 * 1000;
// A client that sends nothing for this long is dropped.
constexpr int kReceiveTimeoutSeconds = 60;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "loopback_server: %s: %s\n", what.c_str(),
               std::strerror(errno));
  std::exit(1);
}

// A TCP socket bound to a free port on 127.0.0.1; returns the port.
int BindToLoopback(int socket) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    Fail("bind");
  }
  return ntohs(address.sin_port);
}

// Written under a temporary name and renamed, so a reader never sees part
// of a file.
void WriteFileAtomically(const fs::path& path, const std::string& content) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream stream(temporary, std::ios::binary);
    stream << content;
    if (!stream.flush()) {
      Fail("write " + temporary.string());
    }
  }
  fs::rename(temporary, path);
}

class Server {
 public:
  explicit Server(fs::path dir) : dir_(std::move(dir)) {}

  void Serve(int listener) {
    for (;;) {
      pollfd waiting = {listener, POLLIN, 0};
      const int ready = poll(&waiting, 1, kIdleMilliseconds);
      if (ready == 0) {
        return;
      }
      if (ready < 0) {
        if (errno == EINTR) {
          continue;
        }
        Fail("poll");
      }
      const int connection = accept(listener, nullptr, nullptr);
      if (connection >= 0) {
        std::thread([this, connection] { Answer(connection); }).detach();
      }
    }
  }

 private:
  struct Request {
    std::string head;  // the request line and header lines, CRLF each
    std::string body;
    std::string target;
  };

  // The whole request, or none when the client stops early.
  static std::optional<Request> Receive(int connection) {
    static const std::regex kContentLength("\r\ncontent-length:[ \t]*([0-9]+)",
                                           std::regex::icase);
    std::string received;
    size_t head_end = std::string::npos;
    size_t content_length = 0;
    for (;;) {
      if (head_end == std::string::npos &&
          (head_end = received.find("\r\n\r\n")) != std::string::npos) {
        std::smatch match;
        const std::string head = received.substr(0, head_end + 2);
        if (std::regex_search(head, match, kContentLength)) {
          content_length = std::stoul(match[1]);
        }
      }
      if (head_end != std::string::npos &&
          received.size() >= head_end + 4 + content_length) {
        break;
      }
      char buffer[65536];
      const ssize_t count = recv(connection, buffer, sizeof(buffer), 0);
      if (count <= 0) {
        return std::nullopt;
      }
      received.append(buffer, static_cast<size_t>(count));
    }
    Request request;
    request.head = received.substr(0, head_end + 2);
    request.body = received.substr(head_end + 4, content_length);
    // "METHOD TARGET HTTP/1.1".
    const size_t target_start = request.head.find(' ') + 1;
    request.target = request.head.substr(
        target_start, request.head.find(' ', target_start) - target_start);
    return request;
  }

  void Answer(int connection) {
    const timeval timeout = {kReceiveTimeoutSeconds, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    if (const std::optional<Request> request = Receive(connection)) {
      const std::string reply = Record(*request);
      send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    close(connection);
  }

  // Keeps the request and returns the answer it gets.
  std::string Record(const Request& request) {
    // "/<scope>/<route>", the query and anything after it ignored.
    static const std::regex kTarget("/([^/?#]+)/?([^?#]*).*");
    std::smatch match;
    std::string scope = "none";
    std::string route;
    if (std::regex_match(request.target, match, kTarget)) {
      scope = match[1];
      route = match[2];
    }
    size_t number;
    {
      std::lock_guard lock(mutex_);
      number = counts_[scope]++;
    }
    const fs::path dir = dir_ / "requests" / scope;
    fs::create_directories(dir);
    const std::string name = std::to_string(number);
    // The head last: a reader takes it as the sign of a complete record.
    WriteFileAtomically(dir / (name + ".body"), request.body);
    WriteFileAtomically(dir / (name + ".head"), request.head);

    int status = 200;
    std::string body = "ok";
    std::string headers;
    static const std::regex kStatus(
        "status/([0-9]{3})(/retry-after/([0-9]+))?");
    if (std::regex_match(route, match, kStatus)) {
      status = std::stoi(match[1]);
      body = "reply";
      if (match[3].matched)
        headers = "Retry-After: " + match[3].str() + "\r\n";
    } else if (route == "fail-once") {
      status = number == 0 ? 500 : 200;
      body = number == 0 ? "busy" : "accepted";
    }
    return "HTTP/1.1 " + std::to_string(status) +
           " Status\r\nContent-Type: text/plain\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n" + headers +
           "\r\n" + body;
  }

  const fs::path dir_;
  std::mutex mutex_;
  std::map<std::string, size_t> counts_;
};

void Start(const fs::path& dir) {
  // What an earlier run left; a server of that run ends by itself.
  fs::remove_all(dir);
  fs::create_directories(dir / "requests");

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int refusing = socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0 || refusing < 0) {
    Fail("socket");
  }
  const int port = BindToLoopback(listener);
  const int refusing_port = BindToLoopback(refusing);
  if (listen(listener, SOMAXCONN) != 0) {
    Fail("listen");
  }

  // The listener queues connections from now on, so the address can be
  // published before the child accepts.
  const pid_t child = fork();
  if (child < 0) {
    Fail("fork");
  }
  if (child == 0) {
    // CTest waits for the end of the starting process's output, so the
    // server must not hold it.
    setsid();
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
    Server(dir).Serve(listener);
    std::exit(0);
  }
  WriteFileAtomically(dir / "pid", std::to_string(child));
  WriteFileAtomically(
      dir / "address",
      std::to_string(port) + " " + std::to_string(refusing_port) + "\n");
}

void Stop(const fs::path& dir) {
  std::ifstream stream(dir / "pid");
  pid_t pid = 0;
  if (stream >> pid && pid > 0 && kill(pid, SIGTERM) == 0) {
    // It is not this process's child, so it cannot be waited for; and where
    // nothing reaps orphans it stays a zombie, so the wait is bounded.
    for (int i = 0; i < 500 && kill(pid, 0) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  if (command == "start") {
    Start(argv[2]);
  } else if (command == "stop") {
    Stop(argv[2]);
  } else {
    std::fprintf(stderr, "usage: loopback_server start|stop DIR\n");
    return 2;
  }
  return 0;
}
