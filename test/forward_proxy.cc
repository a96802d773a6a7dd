#include "test/forward_proxy.h"

#include <algorithm>
#include <cctype>
#include <regex>

#include "gtest/gtest.h"

namespace test {

namespace {

// Headers that concern one connection, which a proxy does not pass on
// (RFC 9110, 7.6.1), and those the forwarding client writes itself. The
// others keep their names as spelled.
constexpr const char* kNotPassedOn[] = {"Connection", "Proxy-Connection",
                                        "Keep-Alive", "Host", "Content-Length"};

bool IsHopByHop(const std::string& name) {
  const auto same = [&name](const std::string& hop) {
    return std::equal(name.begin(), name.end(), hop.begin(), hop.end(),
                      [](unsigned char a, unsigned char b) {
                        return std::tolower(a) == std::tolower(b);
                      });
  };
  return std::any_of(std::begin(kNotPassedOn), std::end(kNotPassedOn),
                     [&same](const char* hop) { return same(hop); });
}

}  // namespace

ForwardProxy::ForwardProxy() {
  // One request per connection: a connection that the client keeps open
  // would hold the proxy's end for seconds after the test.
  server_.server().set_keep_alive_max_count(1);
  server_.server().Post(R"(.*)", [this](const httplib::Request& request,
                                        httplib::Response& response) {
    // The request line names the whole URL. Wine's WinHTTP names only the
    // path when the proxy and the server have the same host name, as on
    // loopback; the Host header has the rest then.
    const std::string target =
        request.target.starts_with("http://")
            ? request.target
            : "http://" + request.get_header_value("Host") + request.target;
    std::smatch url;
    static const std::regex kAbsolute(R"((http://[^/]+)(/.*))");
    if (!std::regex_match(target, url, kAbsolute)) {
      response.status = 400;
      return;
    }
    {
      std::lock_guard lock(mutex_);
      forwarded_.push_back(target);
    }
    httplib::Headers headers;
    for (const auto& [name, value] : request.headers) {
      if (!IsHopByHop(name))
        headers.emplace(name, value);
    }
    httplib::Client client(url[1].str());
    const httplib::Result answer =
        client.Post(url[2].str(), headers, request.body, "");
    if (!answer) {
      response.status = 502;
      return;
    }
    response.status = answer->status;
    response.set_content(answer->body,
                         answer->get_header_value("Content-Type"));
  });
  EXPECT_TRUE(server_.Start());
}

std::string ForwardProxy::address() const {
  return "127.0.0.1:" + std::to_string(server_.port());
}

std::vector<std::string> ForwardProxy::forwarded() {
  std::lock_guard lock(mutex_);
  return forwarded_;
}

}  // namespace test
