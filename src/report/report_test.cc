#include "report/report.h"

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "test/http_server.h"
#include "test/process_log.h"

namespace tlv {
namespace {

// Vectors made with Python's hashlib and hmac:
//   md5 = hashlib.md5(body).hexdigest()
//   hmac.new(b"velmor2017tq9z",
//            f"POST\n{md5}\napplication/json\n{t}\nhmac-sha1".encode(),
//            hashlib.sha1).hexdigest()
TEST(SignBodyTest, MatchesIndependentVectors) {
  struct Case {
    std::string body;
    int64_t time;
    const char* md5;
    const char* authorization;
  };
  const std::vector<Case> cases = {
      {R"([{"msgId":"abc"}])", 1700000000, "92ed39baa3415388d885aa8df492a298",
       "f1f4233deb4371c80bbd6ba508e5b558e35490b9"},
      {"", 0, "d41d8cd98f00b204e9800998ecf8427e",
       "948b740257943a4e64d066de31bcfa0ff12a1be6"},
      {"[]", -5, "d751713988987e9331980363e24189ce",
       "dbab382941b55629b791852abf0abfb4ec61796c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const Signature signature = SignBody(c.body, c.time);
    EXPECT_EQ(signature.content_md5, c.md5);
    EXPECT_EQ(signature.date, std::to_string(c.time));
    EXPECT_EQ(signature.authorization, c.authorization);
  }
}

std::unique_ptr<TelvaneReport> SignedReport(const std::string& url,
                                            const std::string& body) {
  auto report = std::make_unique<TelvaneReport>();
  report->SetUrl(url);
  report->SetMethod(base::net::kPost);
  auto stream = std::make_unique<base::net::StringHTTPBodyStream>(body);
  EXPECT_TRUE(report->Sign(*stream));
  report->SetBody(std::move(stream));
  return report;
}

TEST(ReportTest, SignedRequestCarriesTheSignatureOfItsBody) {
  test::RecordingServer server;
  const std::string body = R"([{"msgId":"abc"}])";
  std::string response;
  ASSERT_TRUE(SignedReport(server.url(), body)->StartWithBlock(&response, 0));
  EXPECT_EQ(response, "ok");

  const std::vector<test::RecordingServer::Request> requests =
      server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const httplib::Headers& headers = requests[0].headers;
  EXPECT_EQ(requests[0].body, body);
  const std::string date = test::Header(headers, "DATE");
  ASSERT_FALSE(date.empty());
  const Signature expected = SignBody(body, std::stoll(date));
  EXPECT_EQ(test::Header(headers, "CONTENT-MD5"), expected.content_md5);
  EXPECT_EQ(test::Header(headers, "Authorization"), expected.authorization);
  EXPECT_EQ(test::Header(headers, "CONTENT-TYPE"), "application/json");
  EXPECT_EQ(test::Header(headers, "cms-signature"), "hmac-sha1");
  EXPECT_EQ(test::Header(headers, "Accept"), "*/*");
  EXPECT_EQ(test::Header(headers, "Connection"), "keep-alive");
}

TEST(ReportTest, PlainHeadersCarryNoSignature) {
  test::RecordingServer server;
  TelemetryReport report;
  report.SetUrl(server.url());
  report.SetMethod(base::net::kPost);
  report.SetPlainHeaders();
  report.SetBody("{}");
  std::string response;
  ASSERT_TRUE(report.StartWithBlock(&response, 0));

  const httplib::Headers headers = server.requests().at(0).headers;
  EXPECT_EQ(test::Header(headers, "CONTENT-TYPE"), "application/json");
  EXPECT_TRUE(
      std::regex_match(test::Header(headers, "DATE"), std::regex("[0-9]+")));
  EXPECT_EQ(headers.count("cms-signature"), 0u);
  EXPECT_EQ(headers.count("Authorization"), 0u);
  EXPECT_EQ(headers.count("CONTENT-MD5"), 0u);
}

// A report sends at most once, and a refused start does not count as one.
TEST(ReportTest, SendsAtMostOnce) {
  test::ProcessLog log;
  test::RecordingServer server;
  std::unique_ptr<TelvaneReport> report = SignedReport(server.url(), "[{}]");

  EXPECT_FALSE(report->StartWithBlock(nullptr, 0));
  EXPECT_EQ(log.Take(),
            "4 tlv::BaseReport::StartWithBlock: response_body is nullptr\n");
  EXPECT_TRUE(server.requests().empty());

  std::string response;
  EXPECT_TRUE(report->StartWithBlock(&response, 0));
  log.Take();
  EXPECT_FALSE(report->StartWithBlock(&response, 0));
  EXPECT_EQ(response, "okreport has been started");
  EXPECT_EQ(log.Take(),
            "4 tlv::BaseReport::StartWithBlock: report has been started\n");
  EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
}  // namespace tlv
