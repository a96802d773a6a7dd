// Reads answers and picks the one that a request gets; nothing here knows
// HTTP.

#include "tools/receiving_service/answer_plan.h"

#include <iterator>

#include "tools/receiving_service/text_util.h"

namespace tools {

std::optional<Answer> ParseAnswer(std::string_view text) {
  Answer answer;
  answer.text = std::string(text);
  if (text == "accept") {
    answer.kind = Answer::Kind::kAccept;
  } else if (text == "html") {
    answer.kind = Answer::Kind::kHtml;
  } else if (text == "drop") {
    answer.kind = Answer::Kind::kDrop;
  } else if (text == "close") {
    answer.kind = Answer::Kind::kClose;
  } else if (text == "hang") {
    answer.kind = Answer::Kind::kHang;
  } else if (text.starts_with("body:")) {
    answer.kind = Answer::Kind::kBody;
    answer.message = std::string(text.substr(5));
  } else if (text.starts_with("reset:")) {
    std::optional<int> bytes = ParseInt(text.substr(6));
    if (!bytes || *bytes < 0)
      return std::nullopt;
    answer.kind = Answer::Kind::kReset;
    answer.number = *bytes;
  } else if (text.starts_with("reject:")) {
    std::string_view rest = text.substr(7);
    size_t colon = rest.find(':');
    std::optional<int> code = ParseInt(rest.substr(0, colon));
    if (colon == std::string_view::npos || !code)
      return std::nullopt;
    answer.kind = Answer::Kind::kReject;
    answer.number = *code;
    answer.message = std::string(rest.substr(colon + 1));
  } else if (text.starts_with("status:")) {
    std::string_view rest = text.substr(7);
    size_t colon = rest.find(':');
    std::optional<int> status = ParseInt(rest.substr(0, colon));
    if (!status || *status < 100 || *status > 599)
      return std::nullopt;
    answer.kind = Answer::Kind::kStatus;
    answer.number = *status;
    if (colon != std::string_view::npos) {
      answer.retry_after = std::string(rest.substr(colon + 1));
      if (answer.retry_after.empty())
        return std::nullopt;
    }
  } else if (text.starts_with("delay:")) {
    std::optional<int> milliseconds = ParseInt(text.substr(6));
    if (!milliseconds || *milliseconds < 0)
      return std::nullopt;
    answer.kind = Answer::Kind::kDelay;
    answer.number = *milliseconds;
  } else {
    return std::nullopt;
  }
  return answer;
}

std::optional<std::pair<int, Answer>> ParseAnswerSwitch(std::string_view text) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos)
    return std::nullopt;
  std::optional<int> after = ParseInt(text.substr(0, colon));
  std::optional<Answer> answer = ParseAnswer(text.substr(colon + 1));
  if (!after || *after < 0 || !answer)
    return std::nullopt;
  return std::pair{*after, *answer};
}

const Answer& AnswerPlan::ForRequest(int number) const {
  // The switch with the largest n below number.
  auto next = switches.lower_bound(number);
  return next == switches.begin() ? initial : std::prev(next)->second;
}

}  // namespace tools
