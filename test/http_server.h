#ifndef TEST_HTTP_SERVER_H_
#define TEST_HTTP_SERVER_H_

#include <httplib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

// An httplib server on 127.0.0.1 for tests. Add routes to server(), then
// Start; the destructor stops it and waits for its thread.
class HttpServer {
 public:
  HttpServer();
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

// A server with one POST route, path, that keeps every request that reached
// it whole and answers each with 200 and the text "ok".
class RecordingServer {
 public:
  struct Request {
    httplib::Headers headers;
    std::string body;
  };

  explicit RecordingServer(const std::string& path = "/upload");

  std::string url() const { return server_.Url(path_); }
  std::vector<Request> requests();

 private:
  const std::string path_;
  std::mutex mutex_;
  std::vector<Request> requests_;
  // Last, so that it stops before what its route uses is gone.
  HttpServer server_;
};

// The header's value under exactly this spelling of its name, or
// "<missing NAME>".
std::string Header(const httplib::Headers& headers, const std::string& name);

}  // namespace test

#endif  // TEST_HTTP_SERVER_H_
