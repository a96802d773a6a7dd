// Ends a request's connection without an answer, as the close, reset and
// hang answers need. Apart from the server because httplib gives its
// handlers no socket: it is looked up among the process's descriptors in
// Linux's /proc, a detail that nothing else of the service shares.

#ifndef TOOLS_RECEIVING_SERVICE_END_CONNECTION_H_
#define TOOLS_RECEIVING_SERVICE_END_CONNECTION_H_

namespace httplib {
struct Request;
}  // namespace httplib

namespace tools {

// Ends request's connection without an answer: the client reads the end of
// the stream. With reset, the close that follows sends a reset instead,
// which also reaches a client that is still sending. httplib's attempt to
// answer then fails, and it closes the socket.
void EndConnection(const httplib::Request& request, bool reset);

}  // namespace tools

#endif  // TOOLS_RECEIVING_SERVICE_END_CONNECTION_H_
