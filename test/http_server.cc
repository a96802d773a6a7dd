#include "test/http_server.h"

#if !defined(_WIN32)
#include <sys/socket.h>
#endif

#include "gtest/gtest.h"

namespace test {

HttpServer::HttpServer() {
#if !defined(_WIN32)
  // httplib's default is SO_REUSEPORT alone, which refuses a fixed port that
  // an earlier test's server left in TIME_WAIT (the receiving service closes
  // connections first) and lets two servers share a port that is in use.
  // SO_REUSEADDR alone does the opposite of both. On Windows httplib's
  // default, SO_EXCLUSIVEADDRUSE, already does.
  server_.set_socket_options([](socket_t socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
#endif
}

HttpServer::~HttpServer() {
  if (thread_.joinable()) {
    server_.stop();
    thread_.join();
  }
}

bool HttpServer::Start(int port) {
  if (port == 0) {
    port_ = server_.bind_to_any_port("127.0.0.1");
  } else if (server_.bind_to_port("127.0.0.1", port)) {
    port_ = port;
  }
  if (port_ <= 0)
    return false;
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() does nothing until the server runs, and the destructor would
  // then wait for the thread forever.
  while (!server_.is_running())
    std::this_thread::yield();
  return true;
}

std::string HttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

RecordingServer::RecordingServer(const std::string& path) : path_(path) {
  server_.server().Post(path, [this](const httplib::Request& request,
                                     httplib::Response& response) {
    std::lock_guard lock(mutex_);
    requests_.push_back({request.headers, request.body});
    response.set_content("ok", "text/plain");
  });
  EXPECT_TRUE(server_.Start());
}

std::vector<RecordingServer::Request> RecordingServer::requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::string Header(const httplib::Headers& headers, const std::string& name) {
  for (const auto& [key, value] : headers) {
    if (key == name)
      return value;
  }
  return "<missing " + name + ">";
}

}  // namespace test
