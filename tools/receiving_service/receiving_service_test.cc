#include "tools/receiving_service/receiving_service.h"

#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"

namespace tools {
namespace {

using ::testing::HasSubstr;

// The vectors below were made once with Python 3, outside this code:
// hashlib.md5(body).hexdigest(), hmac.new(b"velmor2017tq9z",
// b"POST\n<md5>\napplication/json\n<date>\nhmac-sha1", hashlib.sha1)
// .hexdigest(), base64.b64encode(dump) and hashlib.sha256(dump).hexdigest().

// The dump bytes 4d 44 4d 50 93 a7 00 00 ff 01 02 0a 0d 00.
const std::string kDump("MDMP\x93\xa7\0\0\xff\x01\x02\n\r\0", 14);
constexpr char kDumpSha256[] =
    "69c244aface259d8387597948c44de0ea7dafbfb91b5be60359154df7afa8c33";
constexpr char kMsgId[] = "0123456789abcdefghijklmnopqrstuv";
constexpr char kEvent[] =
    R"({"applicationId":900007,"applicationName":"apm",)"
    R"("msgId":"0123456789abcdefghijklmnopqrstuv","eventTime":"1700000000",)"
    R"("eventId":100011,"eventName":"APMReport","uploadContent":{)"
    R"("ReportId":"0123456789abcdefghijklmnopqrstuv",)"
    R"("OccurTimestamp":"2023-11-14T22:13:20.000Z",)"
    R"("LocalTimestamp":"2023-11-14T22:13:19.000Z"},)"
    R"("dump":"TURNUJOnAAD/AQIKDQA="})";
constexpr char kDate[] = "1700000000";
constexpr char kMd5[] = "a3146eb6c39e3a3a2b22180d01820f49";
constexpr char kSignature[] = "765f7a4548e5c5ca026f6586b8f3bf549e2cd931";
// kMd5 signed at DATE 1700000001.
constexpr char kSignatureAtNextSecond[] =
    "0effd8c2aa701fc7161e5e45e41c68415e3aea7a";
// MD5 of "another body", and its signature at kDate.
constexpr char kOtherMd5[] = "feca7f0455b7a6ca58a384e20f72e43e";
constexpr char kOtherMd5Signature[] =
    "a45aa2fff93c0422d981493a33c55bcbe4f109d3";
constexpr char kTwoEventsBody[] = R"([{"msgId":"a"},{"msgId":"b"}])";
constexpr char kTwoEventsMd5[] = "56d27fdefd0ee7ef8e12c48fd85dbbd0";
constexpr char kTwoEventsSignature[] =
    "cd99dcd2825c9acecfcea229db436bf3b7b406b6";
constexpr char kObjectBody[] = R"({"msgId":"a"})";
constexpr char kObjectMd5[] = "bc1645610e84e875093c1cc34d1488d9";
constexpr char kObjectSignature[] = "cc170b8246e97ae22e39ec1e21b37861dea92671";
constexpr char kLineFeedBody[] = "[{\"msgId\":\"a\"}]\n";
constexpr char kLineFeedMd5[] = "c977a3da67c4f8e166dc1d40abd2ce08";
constexpr char kLineFeedSignature[] =
    "5e22869f0ad5f82ed7b0e96571b7c87db8501e1a";

// {"data":[{"event":"CrashReport","component":"crash_plugin","result":
// "start"},{"event":"CrashReportScan","component":"crash_plugin",
// "result":"2"}]} scrambled with a few lines of Python's own RC4 and the
// telemetry key, then base64.b64encode, inside {"data":"..."}.
constexpr char kTelemetryBody[] =
    R"({"data":"0CO7GaqZGPdp5YKJAWbxi5/a32zH2Cas1AGrfzK9gRO0nhRac7xxKm/zmaVo)"
    R"(ecftR6ErlS5jNLBHVNjuTdhC01ErEnCJGb/GTrlnWduCOlYpsg57AmMCBmJiKV3V4fID1)"
    R"(KSf6AEGRBCVdMt2PAUv9BwqKRH5Bd6rTv983smhLbNQY1T54GPKhgfsUDykmEsa0k4="})";
constexpr char kTelemetryTarget[] =
    "/common/h5log/log/batch?topic=plat_apm_sdk";

std::string SignedBody() {
  return std::string("[") + kEvent + "]";
}

httplib::Headers SignedHeaders(const std::string& md5,
                               const std::string& authorization) {
  return {{"CONTENT-TYPE", "application/json"},
          {"cms-signature", "hmac-sha1"},
          {"CONTENT-MD5", md5},
          {"DATE", kDate},
          {"Authorization", authorization}};
}

httplib::Headers TelemetryHeaders() {
  return {{"CONTENT-TYPE", "application/json"}, {"DATE", kDate}};
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::istringstream text(ReadFile(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);)
    lines.push_back(line);
  return lines;
}

std::set<std::string> FileNames(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.insert(entry.path().filename().string());
  return names;
}

class ReceivingServiceTest : public testing::Test {
 protected:
  void StartService(AnswerPlan upload = {}, AnswerPlan telemetry = {}) {
    ReceivingService::Options options;
    options.out_dir = out_dir();
    options.upload = std::move(upload);
    options.telemetry = std::move(telemetry);
    service_ = std::make_unique<ReceivingService>(std::move(options));
    ASSERT_TRUE(service_->Start());
  }

  httplib::Result Post(const std::string& target,
                       const std::string& body,
                       const httplib::Headers& headers) {
    httplib::Client client("127.0.0.1", service_->port());
    // The headers carry CONTENT-TYPE themselves; httplib adds none when
    // one of any spelling is present.
    return client.Post(target, headers, body, "");
  }

  httplib::Result PostUpload(const std::string& body,
                             const httplib::Headers& headers) {
    return Post("/apm/dataUpload", body, headers);
  }

  std::string out_dir() const { return temp_dir_.path() + "/out"; }

  test::ScopedTempDir temp_dir_;
  std::unique_ptr<ReceivingService> service_;
};

TEST_F(ReceivingServiceTest, SignedUploadIsAcceptedAndStored) {
  StartService();
  httplib::Result result =
      PostUpload(SignedBody(), SignedHeaders(kMd5, kSignature));
  ASSERT_TRUE(result);
  EXPECT_EQ(200, result->status);
  EXPECT_EQ(R"({"code":0,"message":"ok"})", result->body);

  std::vector<ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(1u, uploads.size());
  const ReceivedUpload& upload = uploads[0];
  EXPECT_EQ("ok", upload.verdict);
  EXPECT_EQ(kMsgId, upload.msg_id);
  EXPECT_EQ("APMReport", upload.event_name);
  EXPECT_EQ(100011, upload.event_id);
  EXPECT_EQ("1700000000", upload.event_time);
  EXPECT_EQ(kMsgId, upload.report_id);
  EXPECT_EQ("2023-11-14T22:13:20.000Z", upload.occur_timestamp);
  EXPECT_EQ("2023-11-14T22:13:19.000Z", upload.local_timestamp);
  EXPECT_EQ(kDump.size(), upload.dump_size);
  EXPECT_EQ(kDumpSha256, upload.dump_sha256);
  EXPECT_EQ("accept", upload.answer);
  EXPECT_EQ(SignedBody(), upload.body);

  std::string base = out_dir() + "/" + kMsgId;
  EXPECT_EQ(base + ".dmp", upload.stored);
  EXPECT_EQ(kDump, ReadFile(base + ".dmp"));
  EXPECT_EQ(kEvent, ReadFile(base + ".json"));
  std::vector<std::string> lines = ReadLines(out_dir() + "/uploads.jsonl");
  ASSERT_EQ(1u, lines.size());
  EXPECT_THAT(lines[0], HasSubstr(R"("verdict":"ok")"));
  EXPECT_THAT(lines[0], HasSubstr(R"("eventId":100011)"));
  EXPECT_THAT(lines[0], HasSubstr(R"("dumpSize":14)"));
  EXPECT_THAT(lines[0],
              HasSubstr(std::string(R"("dumpSha256":")") + kDumpSha256));
}

TEST_F(ReceivingServiceTest, EachFaultFailsItsCheck) {
  struct Case {
    const char* name;
    std::string body;
    httplib::Headers headers;
    const char* verdict_part;
  };
  httplib::Headers lowercase_md5 = SignedHeaders(kMd5, kSignature);
  lowercase_md5.erase("CONTENT-MD5");
  lowercase_md5.emplace("content-md5", kMd5);
  const Case kCases[] = {
      {"MD5 of another body, signed consistently", SignedBody(),
       SignedHeaders(kOtherMd5, kOtherMd5Signature), "not the MD5 of the body"},
      {"signature over another DATE", SignedBody(),
       SignedHeaders(kMd5, kSignatureAtNextSecond), "not the signature"},
      {"lowercase header name", SignedBody(), lowercase_md5,
       "spelled content-md5"},
      {"Authorization with a prefix", SignedBody(),
       SignedHeaders(kMd5, std::string("HMAC ") + kSignature),
       "40 lowercase hex"},
      {"body of two objects", kTwoEventsBody,
       SignedHeaders(kTwoEventsMd5, kTwoEventsSignature), "2 elements"},
      {"body not an array", kObjectBody,
       SignedHeaders(kObjectMd5, kObjectSignature), "not a JSON array"},
      {"line feed after the array", kLineFeedBody,
       SignedHeaders(kLineFeedMd5, kLineFeedSignature), "its last"},
  };
  StartService();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(PostUpload(c.body, c.headers));
    EXPECT_THAT(service_->uploads().back().verdict, HasSubstr(c.verdict_part));
  }
}

TEST_F(ReceivingServiceTest, OnlyPlainMessageIdsNameFiles) {
  StartService();
  // Unsigned, so the verdicts fail; the events are stored all the same.
  for (const char* body :
       {R"([{"msgId":"../escape"}])", R"([{"msgId":"UPPER"}])",
        R"([{"msgId":"plain"}])"}) {
    ASSERT_TRUE(PostUpload(body, {}));
  }
  EXPECT_EQ((std::set<std::string>{"upload-1.json", "upload-2.json",
                                   "plain.json", "uploads.jsonl"}),
            FileNames(out_dir()));
  for (const ReceivedUpload& upload : service_->uploads()) {
    EXPECT_EQ(0u, upload.dump_size);
    EXPECT_EQ("", upload.dump_sha256);
    EXPECT_EQ("", upload.stored);
  }
}

TEST_F(ReceivingServiceTest, RefusesAPortInUse) {
  StartService();
  ReceivingService::Options options;
  options.port = service_->port();
  options.out_dir = out_dir();
  ReceivingService second(std::move(options));
  EXPECT_FALSE(second.Start());
}

TEST_F(ReceivingServiceTest, TelemetryEventsAreUnscrambled) {
  StartService();
  httplib::Result result =
      Post(kTelemetryTarget, kTelemetryBody, TelemetryHeaders());
  ASSERT_TRUE(result);
  EXPECT_EQ(R"({"retcode":0})", result->body);

  EXPECT_EQ(std::vector<std::string>{"ok"}, service_->telemetry_verdicts());
  std::vector<std::string> expected = {
      R"({"event":"CrashReport","component":"crash_plugin","result":"start"})",
      R"({"event":"CrashReportScan","component":"crash_plugin","result":"2"})",
  };
  EXPECT_EQ(expected, service_->telemetry_events());
  EXPECT_EQ(expected, ReadLines(out_dir() + "/telemetry.jsonl"));
}

TEST_F(ReceivingServiceTest, TelemetryFaultsAreRecordedAsVerdicts) {
  struct Case {
    const char* target;
    const char* body;
    const char* verdict_part;
  };
  const Case kCases[] = {
      {"/common/h5log/log/batch", kTelemetryBody, "topic=plat_apm_sdk"},
      {kTelemetryTarget, R"({"data":"not Base64!"})", "not Base64"},
      // Valid Base64 of bytes that do not unscramble to JSON.
      {kTelemetryTarget, R"({"data":"AAAA"})", "unscrambled"},
  };
  StartService();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.body);
    ASSERT_TRUE(Post(c.target, c.body, TelemetryHeaders()));
    EXPECT_THAT(service_->telemetry_verdicts().back(),
                HasSubstr(c.verdict_part));
  }
  EXPECT_TRUE(service_->telemetry_events().empty());
  std::vector<std::string> lines = ReadLines(out_dir() + "/telemetry.jsonl");
  ASSERT_EQ(std::size(kCases), lines.size());
  for (const std::string& line : lines)
    EXPECT_THAT(line, HasSubstr(R"({"verdict":")"));
}

TEST_F(ReceivingServiceTest, AnswersFollowThePlan) {
  struct Case {
    const char* answer;
    bool upload;
    int status;  // 0: the connection is dropped
    const char* body_part;
  };
  const Case kCases[] = {
      {"accept", true, 200, R"({"code":0,"message":"ok"})"},
      {"accept", false, 200, R"({"retcode":0})"},
      {"reject:7:busy \"now\"", true, 200,
       R"({"code":7,"message":"busy \"now\""})"},
      {"reject:-1:full", false, 200, R"({"retcode":-1,"msg":"full"})"},
      {"status:503", true, 503, "503"},
      {"status:429:120", false, 429, "429"},
      {"html", false, 200, "<html>"},
      {"delay:1", true, 200, R"({"code":0,"message":"ok"})"},
      {"body:{\"code\":0.0}", true, 200, R"({"code":0.0})"},
      {"drop", true, 0, ""},
      {"drop", false, 0, ""},
      {"close", true, 0, ""},
      {"reset:0", false, 0, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.answer << (c.upload ? " upload" : " telemetry"));
    std::optional<Answer> answer = ParseAnswer(c.answer);
    ASSERT_TRUE(answer);
    AnswerPlan plan{*answer, {}};
    if (c.upload)
      StartService(plan, {});
    else
      StartService({}, plan);
    httplib::Result result =
        c.upload ? PostUpload(SignedBody(), SignedHeaders(kMd5, kSignature))
                 : Post(kTelemetryTarget, kTelemetryBody, TelemetryHeaders());
    if (c.status == 0) {
      EXPECT_FALSE(result);
    } else {
      ASSERT_TRUE(result);
      EXPECT_EQ(c.status, result->status);
      EXPECT_THAT(result->body, HasSubstr(c.body_part));
    }
    // Recorded whatever the answer.
    if (answer->kind == Answer::Kind::kStatus) {
      EXPECT_EQ(answer->retry_after, result->get_header_value("Retry-After"));
    }
    EXPECT_EQ(c.upload ? 1u : 0u, service_->uploads().size());
    EXPECT_EQ(c.upload ? 0u : 1u, service_->telemetry_verdicts().size());
    service_.reset();
    std::filesystem::remove_all(out_dir());
  }
}

TEST_F(ReceivingServiceTest, AnswersSwitchAfterTheirRequestCount) {
  AnswerPlan plan;
  plan.switches.insert(*ParseAnswerSwitch("1:status:500"));
  plan.switches.insert(*ParseAnswerSwitch("3:reject:1:late"));
  StartService(plan, {});
  std::vector<int> statuses;
  for (int i = 0; i < 4; ++i) {
    httplib::Result result = PostUpload("[]", {});
    ASSERT_TRUE(result);
    statuses.push_back(result->status);
  }
  EXPECT_EQ((std::vector<int>{200, 500, 500, 200}), statuses);
  std::vector<std::string> answers;
  for (const ReceivedUpload& upload : service_->uploads())
    answers.push_back(upload.answer);
  EXPECT_EQ((std::vector<std::string>{"accept", "status:500", "status:500",
                                      "reject:1:late"}),
            answers);
}

// A resend of a report that was accepted is a repeat: answered as accepted
// whatever the plan says, recorded as one and not stored a second time. A
// report that was only refused before is no repeat.
TEST_F(ReceivingServiceTest, RepeatOfAnAcceptedReportIsNotStoredAgain) {
  AnswerPlan plan{*ParseAnswer("reject:7:later"), {}};
  plan.switches.insert(*ParseAnswerSwitch("1:accept"));
  plan.switches.insert(*ParseAnswerSwitch("2:status:503"));
  std::vector<std::string> lines;
  ReceivingService::Options options;
  options.out_dir = out_dir();
  options.upload = plan;
  options.on_request = [&lines](const std::string& line) {
    lines.push_back(line);
  };
  service_ = std::make_unique<ReceivingService>(std::move(options));
  ASSERT_TRUE(service_->Start());
  const std::string stored = out_dir() + "/" + kMsgId + ".dmp";

  std::vector<std::string> bodies;
  for (int i = 0; i < 3; ++i) {
    httplib::Result result =
        PostUpload(SignedBody(), SignedHeaders(kMd5, kSignature));
    ASSERT_TRUE(result);
    EXPECT_EQ(200, result->status);
    bodies.push_back(result->body);
    if (i == 1)
      std::filesystem::remove(stored);
  }

  EXPECT_EQ((std::vector<std::string>{R"({"code":7,"message":"later"})",
                                      R"({"code":0,"message":"ok"})",
                                      R"({"code":0,"message":"ok"})"}),
            bodies);
  const std::vector<ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(3u, uploads.size());
  EXPECT_EQ((std::vector<bool>{false, false, true}),
            (std::vector<bool>{uploads[0].repeat, uploads[1].repeat,
                               uploads[2].repeat}));
  EXPECT_EQ(stored, uploads[1].stored);
  EXPECT_EQ("", uploads[2].stored);
  EXPECT_EQ("accept", uploads[2].answer);
  EXPECT_FALSE(std::filesystem::exists(stored));
  const std::vector<std::string> records =
      ReadLines(out_dir() + "/uploads.jsonl");
  ASSERT_EQ(3u, records.size());
  EXPECT_THAT(records[1], HasSubstr(R"("repeat":false)"));
  EXPECT_THAT(records[2], HasSubstr(R"("repeat":true)"));
  ASSERT_EQ(3u, lines.size());
  EXPECT_THAT(lines[2], HasSubstr(std::string("a repeat of msgId ") + kMsgId +
                                  ", accepted before, not stored again; "
                                  "answered accept"));
}

// A reset comes while the client is still sending a body far larger than
// what the service has read; a hang ends without an answer when the
// service stops.
TEST_F(ReceivingServiceTest, ResetAndHangLeaveTheClientWithoutAnAnswer) {
  AnswerPlan plan{*ParseAnswer("reset:65536"), {}};
  plan.switches.insert(*ParseAnswerSwitch("1:hang"));
  StartService(plan, {});
  const std::string large(32 << 20, 'x');
  EXPECT_FALSE(PostUpload(large, {}));
  ASSERT_EQ(1u, service_->uploads().size());
  EXPECT_GE(service_->uploads()[0].body.size(), 65536u);
  EXPECT_LT(service_->uploads()[0].body.size(), large.size() / 2);

  std::thread client([this] {
    EXPECT_FALSE(PostUpload(SignedBody(), SignedHeaders(kMd5, kSignature)));
  });
  while (service_->uploads().size() < 2)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  service_->Stop();
  client.join();
  EXPECT_EQ("hang", service_->uploads()[1].answer);
}

TEST(AnswerTest, ParsesOnlyWellFormedAnswers) {
  struct Case {
    const char* text;
    Answer::Kind kind;
    int number;
    const char* message;
  };
  const Case kValid[] = {
      {"accept", Answer::Kind::kAccept, 0, ""},
      {"reject:-3:a:b", Answer::Kind::kReject, -3, "a:b"},
      {"reject:5:", Answer::Kind::kReject, 5, ""},
      {"status:404", Answer::Kind::kStatus, 404, ""},
      {"status:503:Wed, 21 Oct 2037 07:28:00 GMT", Answer::Kind::kStatus, 503,
       ""},
      {"delay:250", Answer::Kind::kDelay, 250, ""},
      {"drop", Answer::Kind::kDrop, 0, ""},
      {"body:{\"code\":1}", Answer::Kind::kBody, 0, R"({"code":1})"},
      {"body:", Answer::Kind::kBody, 0, ""},
      {"close", Answer::Kind::kClose, 0, ""},
      {"reset:65536", Answer::Kind::kReset, 65536, ""},
      {"hang", Answer::Kind::kHang, 0, ""},
  };
  for (const Case& c : kValid) {
    SCOPED_TRACE(c.text);
    std::optional<Answer> answer = ParseAnswer(c.text);
    ASSERT_TRUE(answer);
    EXPECT_EQ(c.kind, answer->kind);
    EXPECT_EQ(c.number, answer->number);
    EXPECT_EQ(c.message, answer->message);
    EXPECT_EQ(c.text, answer->text);
  }
  for (const char* text : {"reject:5", "reject:x:m", "status:99", "status:600",
                           "status:503:", "delay:-1", "delay:1s", "reset:-1",
                           "reset:", "Hang", "Accept", ""}) {
    EXPECT_FALSE(ParseAnswer(text)) << text;
  }
  EXPECT_EQ(
      "Wed, 21 Oct 2037 07:28:00 GMT",
      ParseAnswer("status:503:Wed, 21 Oct 2037 07:28:00 GMT")->retry_after);
  EXPECT_EQ(2, ParseAnswerSwitch("2:drop")->first);
  EXPECT_FALSE(ParseAnswerSwitch("-1:drop"));
  EXPECT_FALSE(ParseAnswerSwitch("2:"));
  EXPECT_FALSE(ParseAnswerSwitch("drop"));
}

TEST(Arc4Test, MatchesTheKnownVectorAndInvertsItself) {
  // The classic RC4 test vector: key "Key", plaintext "Plaintext".
  const std::string kCipher("\xbb\xf3\x16\xe8\xd9\x40\xaf\x0a\xd3", 9);
  EXPECT_EQ(kCipher, Arc4("Plaintext", "Key"));
  EXPECT_EQ("Plaintext", Arc4(kCipher, "Key"));
}

}  // namespace
}  // namespace tools
