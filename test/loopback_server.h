#ifndef TEST_LOOPBACK_SERVER_H_
#define TEST_LOOPBACK_SERVER_H_

#include <string>
#include <vector>

namespace test {

// A test's view of the loopback HTTP server (loopback_server/), which CTest
// starts for the tests that ask for it (tlv_add_test's LOOPBACK_SERVER) and
// names in the environment variable TLV_LOOPBACK_SERVER. The server runs on
// the build machine, outside the test's process, so a Windows build's tests
// under Wine reach it over loopback just as the Linux ones do.
//
// Each object has a scope of its own, the first segment of its URLs' paths:
// it sees only the requests sent to its own URLs.
class LoopbackServer {
 public:
  // A request as it arrived.
  struct Request {
    std::vector<std::string> head;  // the request line, then the header lines
    std::string body;
  };

  // Fails the current test when no server runs.
  LoopbackServer();

  // http://127.0.0.1:<port>/<scope><path>. The path's route chooses the
  // answer: "/status/<N>" gets status N with the body "reply"; "/fail-once"
  // gets 500 "busy" for the scope's first request and 200 "accepted" after;
  // any other 200 "ok".
  std::string Url(const std::string& path) const;
  // The path as it reaches the server: "/<scope><path>".
  std::string Target(const std::string& path) const;

  // A port on 127.0.0.1 that refuses connections.
  int refusing_port() const { return refusing_port_; }

  // The scope's complete requests in the order they arrived. A request that
  // ended before its announced body was whole is not among them.
  std::vector<Request> requests() const;

 private:
  std::string dir_;
  std::string scope_;
  int port_ = 0;
  int refusing_port_ = 0;
};

}  // namespace test

#endif  // TEST_LOOPBACK_SERVER_H_
