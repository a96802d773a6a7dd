#include "report/report_body.h"

#include <xxhash.h>
#include <yyjson.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/json/base64.h"
#include "base/json/json_value.h"
#include "base/net/http_transport.h"
#include "base/utils/file_path.h"
#include "gtest/gtest.h"
#include "report/report.h"
#include "test/http_server.h"
#include "test/process_log.h"
#include "test/scoped_temp_dir.h"

namespace tlv {
namespace {

constexpr char kEvent[] =
    R"({"applicationId":900007,"msgId":"m1","eventTime":"1700000000",)"
    R"("eventId":100011,"uploadContent":{"ReportId":"m1","N":[1,2.5,"x"]}})";

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes)
    c = static_cast<char>(random());
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// One pass from the start, in reads of 1000 bytes; none when a read fails.
// handed_out receives the bytes read before the end or the failure.
std::optional<std::string> ReadPass(base::net::HTTPBodyStream& body,
                                    size_t* handed_out = nullptr) {
  body.Reset();
  std::string text;
  char buffer[1000];
  for (;;) {
    const int64_t count = body.Read(buffer, sizeof(buffer));
    if (handed_out)
      *handed_out = text.size();
    if (count < 0)
      return std::nullopt;
    if (count == 0)
      return text;
    text.append(buffer, static_cast<size_t>(count));
  }
}

// The body as it was built before it was streamed: the dump's Base64 text
// set on the parsed event, the document written whole.
std::string BodyBuiltWhole(const std::string& dump) {
  base::JsonValue event = base::JsonValue::Parse(kEvent);
  if (!dump.empty())
    event.SetString("dump", base::utils::Base64Encode(dump));
  return "[" + event.ToText() + "]";
}

bool SameJson(const std::string& a, const std::string& b) {
  yyjson_doc* const doc_a = yyjson_read(a.data(), a.size(), 0);
  yyjson_doc* const doc_b = yyjson_read(b.data(), b.size(), 0);
  const bool same =
      doc_a && doc_b &&
      yyjson_equals(yyjson_doc_get_root(doc_a), yyjson_doc_get_root(doc_b));
  yyjson_doc_free(doc_a);
  yyjson_doc_free(doc_b);
  return same;
}

// Sizes around the Base64 groups, the transport's 32768-byte chunks and the
// body's own pieces, and a few MiB.
TEST(ReportBodyTest, StreamedBodyIsTheDocumentAndWhatIsSent) {
  test::ScopedTempDir dir;
  test::RecordingServer server;
  const std::vector<size_t> sizes = {0,     1,     2,     3,          32767,
                                     32768, 32769, 49152, 3 << 20 | 1};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string dump = RandomBytes(size, static_cast<uint32_t>(size));
    const std::string path = dir.path() + "/crash.dmp";
    WriteFile(path, dump);
    std::unique_ptr<ReportBody> owned_body =
        MakeReportBody(kEvent, base::utils::Path(path), size);
    ReportBody* const body = owned_body.get();

    EXPECT_EQ(body->dump_xxh3(),
              size == 0 ? std::optional<uint64_t>(XXH3_64bits(nullptr, 0))
                        : std::nullopt);
    const std::optional<std::string> streamed = ReadPass(*body);
    ASSERT_TRUE(streamed);
    // What a later run compares the file with.
    EXPECT_EQ(body->dump_xxh3(), XXH3_64bits(dump.data(), size));
    EXPECT_EQ(static_cast<int64_t>(streamed->size()), body->Size());
    EXPECT_TRUE(SameJson(*streamed, BodyBuiltWhole(dump)));
    EXPECT_EQ(streamed->find("\"dump\""),
              size == 0 ? std::string::npos : streamed->rfind("\"dump\""));

    TelvaneReport report;
    report.SetUrl(server.url());
    report.SetMethod(base::net::kPost);
    ASSERT_TRUE(report.Sign(*body));
    report.SetBody(std::move(owned_body));
    std::string response;
    ASSERT_TRUE(report.StartWithBlock(&response, 0));

    const test::RecordingServer::Request sent = server.requests().back();
    EXPECT_TRUE(sent.body == *streamed);
    EXPECT_EQ(test::Header(sent.headers, "Content-Length"),
              std::to_string(body->Size()));
    const Signature signature =
        SignBody(sent.body, std::stoll(test::Header(sent.headers, "DATE")));
    EXPECT_EQ(test::Header(sent.headers, "CONTENT-MD5"), signature.content_md5);
    EXPECT_EQ(test::Header(sent.headers, "Authorization"),
              signature.authorization);
  }
}

// Every pass must give the bytes of the first one. A pass over a file that
// changed fails, and before the body's last bytes, so no complete body with
// another content ever leaves.
TEST(ReportBodyTest, PassOverAChangedFileFailsBeforeItEnds) {
  struct Case {
    const char* name;
    void (*change)(const std::string& path, std::string& bytes);
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"unchanged", [](const std::string&, std::string&) {}, nullptr},
      {"rewritten with the same bytes",
       [](const std::string& path, std::string& bytes) {
         WriteFile(path, bytes);
       },
       nullptr},
      {"last byte changed",
       [](const std::string& path, std::string& bytes) {
         bytes.back() ^= 1;
         WriteFile(path, bytes);
       },
       "the file changed after the report was signed"},
      {"first byte changed",
       [](const std::string& path, std::string& bytes) {
         bytes.front() ^= 1;
         WriteFile(path, bytes);
       },
       "the file changed after the report was signed"},
      {"shrunk",
       [](const std::string& path, std::string& bytes) {
         bytes.pop_back();
         WriteFile(path, bytes);
       },
       "the file ended after 99999 of 100000 bytes"},
      {"grown",
       [](const std::string& path, std::string& bytes) {
         bytes.push_back('x');
         WriteFile(path, bytes);
       },
       "the file grew beyond 100000 bytes"},
      {"removed",
       [](const std::string& path, std::string&) {
         std::filesystem::remove(path);
       },
       "cannot open"},
  };
  test::ScopedTempDir dir;
  test::ProcessLog log;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.path() + "/crash.dmp";
    std::string bytes = RandomBytes(100000, 7);
    WriteFile(path, bytes);
    const std::unique_ptr<base::net::HTTPBodyStream> body =
        MakeReportBody(kEvent, base::utils::Path(path), bytes.size());
    const std::optional<std::string> first = ReadPass(*body);
    ASSERT_TRUE(first);

    c.change(path, bytes);
    log.Take();
    size_t handed_out = 0;
    const std::optional<std::string> second = ReadPass(*body, &handed_out);
    if (!c.logged) {
      EXPECT_TRUE(second == first);
      EXPECT_EQ(log.Take(), "");
      continue;
    }
    EXPECT_FALSE(second);
    EXPECT_LT(handed_out, first->size() - 3);
    EXPECT_NE(
        log.Take().find("read dump failed: " +
                        base::utils::Path(path).ToUtf8() + ": " + c.logged),
        std::string::npos);
    // A failed pass stays failed until the next one starts.
    char byte;
    EXPECT_EQ(body->Read(&byte, 1), -1);
  }
}

// A dump that changes while it is being sent fails every attempt, and the
// service never receives a whole request.
TEST(ReportBodyTest, DumpChangedDuringTheSendFailsTheAttempts) {
  test::ScopedTempDir dir;
  test::RecordingServer server;
  const std::string path = dir.path() + "/crash.dmp";
  std::string bytes = RandomBytes(200000, 11);
  WriteFile(path, bytes);
  std::unique_ptr<base::net::HTTPBodyStream> body =
      MakeReportBody(kEvent, base::utils::Path(path), bytes.size());

  TelvaneReport report;
  report.SetUrl(server.url());
  report.SetMethod(base::net::kPost);
  ASSERT_TRUE(report.Sign(*body));
  // The transport reports progress before each chunk it reads; the second
  // time, the dump is rewritten in place.
  int calls = 0;
  body->set_progress_callback([&](int32_t) {
    if (++calls == 2) {
      bytes[150000] ^= 1;
      WriteFile(path, bytes);
    }
  });
  report.SetBody(std::move(body));
  std::string response;
  EXPECT_FALSE(report.StartWithBlock(&response, 1));
  EXPECT_TRUE(server.requests().empty());
  // The transport's code for a body it cannot read: CURLE_READ_ERROR, or
  // ERROR_READ_FAULT.
#if defined(_WIN32)
  const std::string error =
      "ReadWithProgress: the body stream cannot be read (0x1e)";
#else
  const std::string error =
      "ReadWithProgress: the body stream cannot be read (0x1a)";
#endif
  EXPECT_EQ(response, error + error);
}

// A body whose file cannot be read is not signed, and so never sent.
TEST(ReportBodyTest, UnreadableBodyIsNotSigned) {
  test::ScopedTempDir dir;
  test::ProcessLog log;
  const std::string path = dir.path() + "/missing.dmp";
  TelvaneReport report;
  EXPECT_FALSE(
      report.Sign(*MakeReportBody(kEvent, base::utils::Path(path), 10)));
  EXPECT_NE(log.Take().find("read dump failed: " +
                            base::utils::Path(path).ToUtf8() + ": cannot open"),
            std::string::npos);
}

#if defined(TLV_DCHECK_IS_ON)
// The dump is spliced in as a further member of the event, so an event that
// is no object with a member is the caller's bug, caught where it is made.
TEST(ReportBodyTest, EventWithoutMembersIsRefusedByTheContract) {
  for (const char* event : {"", "{}", "[1]"}) {
    SCOPED_TRACE(event);
    EXPECT_DEATH(MakeReportBody(event, base::utils::Path("x.dmp"), 10),
                 "check failed: event_text");
  }
}
#endif

}  // namespace
}  // namespace tlv
