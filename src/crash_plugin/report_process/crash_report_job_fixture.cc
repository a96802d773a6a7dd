#include "crash_plugin/report_process/crash_report_job_fixture.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "base/json/base64.h"
#include "base/utils/file_util.h"
#include "test/crashreport_under_test.h"
#include "test/log_lines.h"
#include "test/unzip.h"

namespace test {

namespace fs = std::filesystem;

namespace {

// Replaces every occurrence of dir in text with "ROOT": as the executable
// under test shows it, or, under Wine, as it was given (Z:\tmp\dumps), the
// backslashes of the path that follows then shown as '/'.
std::string ShowRoot(std::string text, const std::string& dir) {
  for (const std::string& form :
       {PathShownByCrashReport(dir), PathGivenToCrashReport(dir)}) {
    for (size_t at; (at = text.find(form)) != std::string::npos;) {
      text.replace(at, form.size(), "ROOT");
      for (at += 4; at < text.size() && !std::strchr(" ,\"", text[at]); ++at) {
        if (text[at] == '\\')
          text[at] = '/';
      }
    }
  }
  return text;
}

}  // namespace

void CrashReportJobFixture::StartService(const std::string& upload_answer) {
  tools::ReceivingService::Options options;
  options.upload.initial = *tools::ParseAnswer(upload_answer);
  StartService(std::move(options));
}

void CrashReportJobFixture::StartService(
    tools::ReceivingService::Options options) {
  options.port = LOOPBACK_PORT;
  options.out_dir = temp_.path() + "/received";
  service_ = std::make_unique<tools::ReceivingService>(std::move(options));
  ASSERT_TRUE(service_->Start());
}

std::string CrashReportJobFixture::Argument(
    const std::string& members,
    const std::string& common_info) const {
  const std::string json = R"({"work_dir":")" + Json(work_dir_) +
                           R"(","log_level":)" + std::to_string(log_level_) +
                           R"(,"log_dest":1,"common_info":")" + common_info +
                           "\"," + members + "}";
  return base::utils::Base64Encode(json);
}

void CrashReportJobFixture::Run(const std::string& members,
                                const std::string& common_info) const {
  ASSERT_EQ(RunCrashReport(CRASHREPORT_EXE, {Argument(members, common_info)}),
            0);
}

std::vector<std::string> CrashReportJobFixture::JobLog() const {
  std::vector<std::string> lines;
  for (const std::string& line : ProcessLog()) {
    if (line.find(" crash_report") != std::string::npos)
      lines.push_back(ShowRoot(line, dumps_dir()));
  }
  return lines;
}

std::vector<std::string> CrashReportJobFixture::ProcessLog() const {
  return LogLines(ReadFile(process_dir() + "/telvane.log"));
}

bool CrashReportJobFixture::Logged(const std::string& line) const {
  const std::vector<std::string> log = ProcessLog();
  return std::find(log.begin(), log.end(), line) != log.end();
}

bool CrashReportJobFixture::RanToTheEnd() const {
  return Logged("INFO crash_process_main.cc: crashreport process done");
}

void CrashReportJobFixture::WaitForUploads(size_t count) const {
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (service_->uploads().size() < count) {
    ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "no upload";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::map<std::string, int> CrashReportJobFixture::AcceptedDumps(
    std::map<std::string, std::string>& hashes) const {
  std::map<std::string, int> accepted;
  for (const tools::ReceivedUpload& upload : service_->uploads()) {
    if (upload.verdict != "ok" || upload.stored.empty() ||
        !(upload.answer == "accept" || upload.answer.starts_with("delay:")))
      continue;
    auto [at, added] = hashes.try_emplace(upload.stored);
    if (added) {
      const std::string stored = ReadFile(upload.stored);
      at->second = stored.starts_with("PK\x03\x04")
                       ? Sha256(ZipEntryContent(
                             upload.stored, ZipEntryNames(upload.stored).at(0)))
                       : Sha256(stored);
    }
    ++accepted[at->second];
  }
  return accepted;
}

std::vector<std::string> CrashReportJobFixture::Events() const {
  std::vector<std::string> events;
  for (const std::string& text : service_->telemetry_events()) {
    const base::JsonValue event = base::JsonValue::Parse(text);
    EXPECT_EQ(event.GetString("component"), "crash_plugin") << text;
    EXPECT_TRUE(std::regex_match(event.GetString("loc").value_or(""),
                                 std::regex(R"(crash_report\w*\.cc:\d+)")))
        << text;
    EXPECT_EQ(event.GetString("app_id"), "game-7") << text;
    EXPECT_EQ(event.GetString("telemetry_version"), "2.40.0.9") << text;
    EXPECT_EQ(event.GetString("client_type"), "Windows") << text;
    EXPECT_EQ(event.GetString("device_id").value_or("").size(), 32u) << text;
    EXPECT_TRUE(std::regex_match(
        event.GetString("@timestamp").value_or(""),
        std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << text;
    events.push_back(ShowRoot(event.GetString("event").value_or("?") + ": " +
                                  event.GetString("result").value_or("?"),
                              dumps_dir()));
  }
  return events;
}

std::vector<std::string> CrashReportJobFixture::ProcessDirFiles() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(process_dir()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> CrashReportJobFixture::TemporaryFiles() const {
  std::vector<std::string> names;
  for (const std::string& name : ProcessDirFiles()) {
    if (name != "telvane.log" && !name.starts_with("delivery.db") &&
        !name.ends_with(".claim")) {
      names.push_back(name);
    }
  }
  return names;
}

std::string CrashReportJobFixture::AddFile(const std::string& name,
                                           const std::string& content) const {
  const fs::path path = fs::path(dumps_dir()) / name;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
  return path.string();
}

// static
std::string CrashReportJobFixture::Received(
    const tools::ReceivedUpload& upload) {
  return upload.stored.empty()
             ? "<no dump>"
             : base::utils::ReadFileToString(base::utils::Path(upload.stored));
}

void CrashReportJobFixture::ExpectOneDumpDelivered(
    const std::string& content) const {
  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].verdict, "ok");
  EXPECT_TRUE(Received(uploads[0]) == content);
  EXPECT_FALSE(fs::exists(dumps_dir() + "/crash.dmp"));
  EXPECT_EQ(Events(),
            (std::vector<std::string>{
                "CrashReport: ROOT/crash.dmp," + std::to_string(content.size()),
                "CrashReportScan: 1 files 0"}));
}

// static
base::JsonValue CrashReportJobFixture::PluginData(
    const tools::ReceivedUpload& upload) {
  return *base::JsonValue::Parse(upload.body)
              .Elements()
              .at(0)
              .GetValue("uploadContent")
              ->GetValue("PluginData");
}

std::string Sha256(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(),
                       nullptr),
            1);
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0xf];
  }
  return hex;
}

std::string ReadFile(const std::string& path) {
  return base::utils::ReadFileToString(base::utils::Path(path));
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

}  // namespace test
