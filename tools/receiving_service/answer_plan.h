// How the service answers each request of an endpoint, read from the text
// that the command line and the tests give. Apart from the server because
// it is plain data that the program's command line reads before any
// server exists.

#ifndef TOOLS_RECEIVING_SERVICE_ANSWER_PLAN_H_
#define TOOLS_RECEIVING_SERVICE_ANSWER_PLAN_H_

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tools {

// How the service answers one request.
struct Answer {
  enum class Kind {
    kAccept,  // 200 with the service's "accepted" object
    kReject,  // 200 with a non-zero code and a message
    kStatus,  // the HTTP status `number` with a small JSON body, and
              // `retry_after`, when not empty, as its Retry-After header
    kHtml,    // 200 with an HTML error page, as a misconfigured proxy sends
    kDelay,   // waits `number` milliseconds, then accepts
    kDrop,    // closes the connection in the middle of the answer
    kBody,    // 200 with `message` as its JSON body, whatever it holds
    kClose,   // reads the request, then closes without an answer
    kReset,   // resets the connection once `number` bytes of the body are in
    kHang,    // never answers; closes without an answer once stopped
  };

  Kind kind = Kind::kAccept;
  // Reject code, HTTP status, delay in milliseconds or body bytes.
  int number = 0;
  std::string message;          // reject message, or the body
  std::string retry_after;      // a status answer's Retry-After value
  std::string text = "accept";  // as written on the command line
};

// Reads "accept", "reject:CODE:MESSAGE", "status:N", "status:N:RETRY_AFTER"
// (the header's value as sent: seconds, or an HTTP date, which holds colons
// of its own), "html", "delay:MS", "drop", "body:TEXT", "close",
// "reset:BYTES" or "hang"; nothing for any other text.
std::optional<Answer> ParseAnswer(std::string_view text);

// The answers of one endpoint: `initial` until a switch applies. A switch
// (n, answer) answers every request from number n + 1 on with `answer`; of
// several, the one with the largest n that applies wins.
struct AnswerPlan {
  Answer initial;
  std::map<int, Answer> switches;

  // `number` counts the endpoint's requests from 1.
  const Answer& ForRequest(int number) const;
};

// Reads "N:ANSWER" (N >= 0) for AnswerPlan::switches.
std::optional<std::pair<int, Answer>> ParseAnswerSwitch(std::string_view text);

}  // namespace tools

#endif  // TOOLS_RECEIVING_SERVICE_ANSWER_PLAN_H_
