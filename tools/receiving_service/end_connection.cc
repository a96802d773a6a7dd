// Finds the socket of a request's connection by its ports and shuts it
// down, with a reset when asked.

#include "tools/receiving_service/end_connection.h"

#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "tools/receiving_service/text_util.h"

namespace tools {
namespace {

// The port of an IPv4 socket address, or -1.
int Port(const sockaddr_storage& address) {
  return address.ss_family == AF_INET
             ? ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port)
             : -1;
}

// The socket of request's connection. httplib does not hand it to handlers,
// so it is found among the process's descriptors by its two ports; -1 when
// none matches.
int FindConnectionSocket(const httplib::Request& request) {
  std::unique_ptr<DIR, int (*)(DIR*)> fds(opendir("/proc/self/fd"), closedir);
  if (!fds) {
    std::fprintf(stderr, "receiving_service: cannot list /proc/self/fd\n");
    return -1;
  }
  while (const dirent* entry = readdir(fds.get())) {
    std::optional<int> fd = ParseInt(entry->d_name);
    if (!fd)
      continue;
    sockaddr_storage local{}, peer{};
    socklen_t local_size = sizeof(local), peer_size = sizeof(peer);
    if (getsockname(*fd, reinterpret_cast<sockaddr*>(&local), &local_size) ==
            0 &&
        getpeername(*fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) == 0 &&
        Port(local) == request.local_port &&
        Port(peer) == request.remote_port) {
      return *fd;
    }
  }
  std::fprintf(stderr, "receiving_service: no socket for port %d\n",
               request.remote_port);
  return -1;
}

}  // namespace

void EndConnection(const httplib::Request& request, bool reset) {
  const int socket = FindConnectionSocket(request);
  if (socket < 0)
    return;
  if (reset) {
    const linger abortive{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
  }
  shutdown(socket, SHUT_RDWR);
}

}  // namespace tools
