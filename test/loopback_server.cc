#include "test/loopback_server.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "gtest/gtest.h"

namespace test {

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), {});
}

std::vector<std::string> Lines(const std::string& head) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < head.size();) {
    const size_t end = head.find("\r\n", start);
    lines.push_back(head.substr(start, end - start));
    start = end == std::string::npos ? head.size() : end + 2;
  }
  return lines;
}

}  // namespace

LoopbackServer::LoopbackServer() {
  const char* dir = std::getenv("TLV_LOOPBACK_SERVER");
  if (!dir) {
    ADD_FAILURE() << "TLV_LOOPBACK_SERVER is not set: run the test through "
                     "ctest, which starts the loopback server";
    return;
  }
  dir_ = dir;
  std::istringstream address(ReadFile(std::filesystem::path(dir_) / "address"));
  if (!(address >> port_ >> refusing_port_)) {
    ADD_FAILURE() << "no loopback server address in " << dir_;
  }
  // Random, as tests in other processes share the server.
  std::random_device random;
  std::ostringstream scope;
  scope << std::hex << random() << random();
  scope_ = "t" + scope.str();
}

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + Target(path);
}

std::string LoopbackServer::Target(const std::string& path) const {
  return "/" + scope_ + path;
}

std::vector<LoopbackServer::Request> LoopbackServer::requests() const {
  const std::filesystem::path dir =
      std::filesystem::path(dir_) / "requests" / scope_;
  std::vector<Request> requests;
  // The server writes a request's head after its body.
  for (size_t n = 0;; ++n) {
    const std::filesystem::path head = dir / (std::to_string(n) + ".head");
    if (!std::filesystem::exists(head)) {
      return requests;
    }
    requests.push_back(
        {Lines(ReadFile(head)), ReadFile(dir / (std::to_string(n) + ".body"))});
  }
}

}  // namespace test
