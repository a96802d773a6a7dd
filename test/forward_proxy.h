#ifndef TEST_FORWARD_PROXY_H_
#define TEST_FORWARD_PROXY_H_

#include <mutex>
#include <string>
#include <vector>

#include "test/http_server.h"

namespace test {

// An HTTP proxy on 127.0.0.1 for tests. A client that goes through a proxy
// names the whole URL on its request line (POST http://host:port/path
// HTTP/1.1); this one forwards each POST to its server and relays the
// answer, and keeps the URLs it forwarded.
class ForwardProxy {
 public:
  ForwardProxy();

  int port() const { return server_.port(); }
  // "127.0.0.1:<port>", as a proxy setting names it.
  std::string address() const;

  // The URLs of the requests it forwarded, in order.
  std::vector<std::string> forwarded();

 private:
  std::mutex mutex_;
  std::vector<std::string> forwarded_;
  // Last, so that it stops before what its route uses is gone.
  HttpServer server_;
};

}  // namespace test

#endif  // TEST_FORWARD_PROXY_H_
