#include "base/net/winhttp_util_win.h"

#include <windows.h>

#include <memory>
#include <regex>
#include <string>

#include "base/net/http_transport.h"
#include "gtest/gtest.h"
#include "test/process_log.h"

namespace base::net {
namespace {

bool IsUtf8(const std::string& text) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), nullptr, 0) > 0;
}

// Whether text holds a letter of the Cyrillic block (U+0400-U+04FF), whose
// UTF-8 sequences start with 0xD0-0xD3.
bool HasCyrillic(const std::string& text) {
  return text.find_first_of("\xD0\xD1\xD2\xD3") != std::string::npos;
}

// A Russian player's Windows gives its messages in Russian, which the ANSI
// code page (1251) would spell in bytes that are not UTF-8. CTest runs these
// tests once more with the user's language Russian (LC_ALL=ru_RU.UTF-8 for
// Wine); otherwise the messages are English.
bool UserLanguageIsRussian() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN;
}

TEST(SystemErrorTextTest, MessageInTheUsersLanguageIsUtf8) {
  const std::string text = SystemErrorText("CreateFileW", ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(
      std::regex_match(text, std::regex(R"(CreateFileW: .+\S \(0x2\))")))
      << text;
  EXPECT_TRUE(IsUtf8(text)) << text;
  EXPECT_EQ(HasCyrillic(text), UserLanguageIsRussian()) << text;
}

TEST(SystemErrorTextTest, CodeWithoutMessageIsNamed) {
  // A code with the customer bit set, which no message table holds.
  EXPECT_EQ(SystemErrorText("WinHttpSendRequest", 0x20001234),
            "WinHttpSendRequest: error 0x13d while retrieving error "
            "0x20001234");
}

// The transport's failures reach the caller in the same form: WinHTTP
// refuses a negative time-out other than -1 (none) with a system code.
TEST(SystemErrorTextTest, TransportFailureIsUtf8) {
  test::ProcessLog log;
  std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
  transport->SetUrl("http://127.0.0.1:9/upload");
  transport->SetConnectTimeout(-2);
  transport->SetBody(std::make_unique<StringHTTPBodyStream>("data"));
  std::string response;
  EXPECT_FALSE(transport->ExecuteSynchronously(response, 0));
  EXPECT_TRUE(std::regex_match(
      response, std::regex(R"(WinHttpSetTimeouts: .+\S \(0x57\))")))
      << response;
  EXPECT_TRUE(IsUtf8(response)) << response;
  EXPECT_EQ(HasCyrillic(response), UserLanguageIsRussian()) << response;
  EXPECT_NE(log.Take().find(response), std::string::npos);
}

}  // namespace
}  // namespace base::net
