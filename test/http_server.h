#ifndef TEST_HTTP_SERVER_H_
#define TEST_HTTP_SERVER_H_

#include <httplib.h>

#include <string>
#include <thread>

namespace test {

// An httplib server on 127.0.0.1 for tests. Add routes to server(), then
// Start; the destructor stops it and waits for its thread.
class HttpServer {
 public:
  HttpServer() = default;
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();

  httplib::Server& server() { return server_; }

  // Binds port (0 picks a free one) and serves on a thread of its own.
  // Returns once the server runs, false when the port cannot be bound.
  bool Start(int port = 0);

  int port() const { return port_; }
  std::string Url(const std::string& path) const;

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace test

#endif  // TEST_HTTP_SERVER_H_
