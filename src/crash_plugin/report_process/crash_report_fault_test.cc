// The real crashreport executable under faults of the service, of the
// host's files and of the process itself. Whatever happens, a dump that the
// service did not accept stays on disk, the host's logs stay as they were,
// and the process exits with 0 within two minutes.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/utils/file_util.h"
#include "crash_plugin/report_process/crash_report_job_fixture.h"
#include "gtest/gtest.h"
#include "test/log_lines.h"
#include "test/process.h"
#include "test/unzip.h"
#include "tools/receiving_service/receiving_service.h"

namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Sha256;

// Logs over this size are packed as a copy of their tail.
constexpr size_t kCutSize = 10'485'760;

// A regular expression that matches text exactly.
std::string Quote(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"),
                            R"(\$&)");
}

// A file of the host that the process must only read: its bytes and its
// modification time.
class HostFile {
 public:
  explicit HostFile(std::string path)
      : path_(std::move(path)),
        content_(ReadFile(path_)),
        time_(fs::last_write_time(path_)) {}

  bool Unchanged() const {
    return ReadFile(path_) == content_ && fs::last_write_time(path_) == time_;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string content_;
  fs::file_time_type time_;
};

class CrashReportFaultTest : public test::CrashReportJobFixture {
 protected:
  // Starts the service with upload answers: the first, then each of
  // switches ("N:ANSWER") from request N + 1 on.
  void StartService(const std::string& upload,
                    const std::vector<std::string>& switches = {}) {
    tools::ReceivingService::Options options;
    options.upload.initial = *tools::ParseAnswer(upload);
    for (const std::string& text : switches)
      options.upload.switches.insert(*tools::ParseAnswerSwitch(text));
    CrashReportJobFixture::StartService(std::move(options));
  }

  // The byte counts (announced, handed over) of each request of the run
  // whose body has a megabyte or more, as the transport logs them.
  std::vector<std::pair<uint64_t, uint64_t>> LargeTransfers() const {
    static const std::regex kLength(
        R"(INFO http_transport_\w+\.cc: content_length = (\d+))");
    static const std::regex kWritten(
        R"(INFO http_transport_\w+\.cc: total_written = (\d+))");
    std::vector<std::pair<uint64_t, uint64_t>> transfers;
    uint64_t length = 0;
    for (const std::string& line : ProcessLog()) {
      std::smatch match;
      if (std::regex_match(line, match, kLength)) {
        length = std::stoull(match.str(1));
      } else if (std::regex_match(line, match, kWritten) && length >= 1 << 20) {
        transfers.emplace_back(length, std::stoull(match.str(1)));
      }
    }
    return transfers;
  }
};

// Whatever the service does short of accepting, the dump stays. A failing
// transfer is tried four times, an answer that does not accept only once;
// the telemetry event and the log line carry what went wrong, and the
// process exits with 0.
TEST_F(CrashReportFaultTest, DumpThatTheServiceDidNotAcceptStays) {
  // The transport's error texts, one per attempt: curl's, or WinHTTP's,
  // where Wine's WinHTTP, which has no message table, leaves out the
  // parenthesised code.
  const std::string kTransportFailures =
      test::CrashReportUnderWine()
          ? R"((WinHttp\w+: [^()]+( \(0x[0-9a-f]+\))?){4})"
          : R"((curl_easy_perform: [^()]+ \(0x[0-9a-f]+\)){4})";
  const std::string kPage =
      "<html><head><title>502 Bad Gateway</title></head>"
      "<body><h1>502 Bad Gateway</h1></body></html>\n";
  struct Case {
    const char* name;
    std::string answer;
    std::vector<std::string> switches;
    size_t dump_size;
    size_t attempts;
    // What CrashReportFailed carries; empty when the dump was accepted.
    std::string failure;
  };
  const std::vector<Case> cases = {
      {"500", "status:500", {}, 64, 4, "(HTTP status 500){4}"},
      {"204, no content", "status:204", {}, 64, 4, "(HTTP status 204){4}"},
      {"404", "status:404", {}, 64, 4, "(HTTP status 404){4}"},
      {"an HTML page", "html", {}, 64, 1, Quote(kPage)},
      {"code 1", R"(body:{"code":1})", {}, 64, 1, Quote(R"({"code":1})")},
      {"code 0.0", R"(body:{"code":0.0})", {}, 64, 1, Quote(R"({"code":0.0})")},
      {"an answer cut short", "drop", {}, 64, 4, kTransportFailures},
      {"no answer before the close", "close", {}, 64, 4, kTransportFailures},
      {"a reset while the body is sent",
       "reset:1048576",
       {},
       16 << 20,
       4,
       kTransportFailures},
      // The transport gives up after 15 seconds without a byte.
      {"no answer to the first request", "hang", {"1:accept"}, 64, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartService(c.answer, c.switches);
    const std::string content = test::Pattern(c.dump_size);
    const std::string dump = AddFile("crash.dmp", content);
    fs::remove(process_dir() + "/telvane.log");

    Run(ScanMembers());

    const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
    ASSERT_EQ(uploads.size(), c.attempts);
    const std::vector<std::pair<uint64_t, uint64_t>> large = LargeTransfers();
    if (c.dump_size < 1 << 20) {
      for (const tools::ReceivedUpload& upload : uploads)
        EXPECT_TRUE(Received(upload) == content) << upload.number;
    } else {
      // The service reset each attempt while the client was still sending.
      ASSERT_EQ(large.size(), c.attempts);
      for (const auto& [length, written] : large)
        EXPECT_LT(written, length);
    }
    const bool accepted = c.failure.empty();
    EXPECT_EQ(fs::exists(dump), !accepted);
    if (!accepted) {
      EXPECT_TRUE(ReadFile(dump) == content);
    }

    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), accepted ? 2u : 3u);
    EXPECT_EQ(events.front(),
              "CrashReport: ROOT/crash.dmp," + std::to_string(c.dump_size));
    EXPECT_EQ(events.back(), "CrashReportScan: 1 files 0");
    const std::vector<std::string> log = JobLog();
    const std::string done =
        "INFO crash_report.cc: CrashReport report done: ROOT/crash.dmp " +
        std::string(accepted ? "true" : "false");
    EXPECT_NE(std::find(log.begin(), log.end(), done), log.end());
    if (!accepted) {
      EXPECT_TRUE(events[1].starts_with("CrashReportFailed: ")) << events[1];
      const std::string failure = events[1].substr(events[1].find(": ") + 2);
      EXPECT_TRUE(std::regex_match(failure, std::regex(c.failure))) << failure;
      // The log shows the text's line breaks as \n, on one line.
      const std::string line =
          "ERROR crash_report_content.cc: event: CrashReportFailed, "
          "component: crash_plugin, result: " +
          std::regex_replace(failure, std::regex("\n"), "\\n");
      EXPECT_NE(std::find(log.begin(), log.end(), line), log.end());
    }
    service_->Stop();
    fs::remove_all(dumps_dir());
  }
}

// Keeps every core busy at the test's own priority while it lives, as a
// game that never pauses would.
class BusyCores final {
 public:
  BusyCores() {
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency());
         ++i) {
      threads_.emplace_back([this] {
        while (!stop_.load(std::memory_order_relaxed)) {
        }
      });
    }
  }
  BusyCores(const BusyCores&) = delete;
  BusyCores& operator=(const BusyCores&) = delete;
  ~BusyCores() {
    stop_ = true;
    for (std::thread& thread : threads_)
      thread.join();
  }

 private:
  std::atomic<bool> stop_ = false;
  std::vector<std::thread> threads_;
};

// A service that takes every request and never answers, uploads and events
// alike: each attempt costs the transport's 15 seconds, and the watchdog
// ends the run at two minutes with exit code 0, also while a game keeps
// every core busy beside the process in the background. The game starts
// once the process waits for the service (beside it from the start, the
// process might never get that far, which is what the background is for),
// ten seconds before the watchdog's deadline: what counts is the moment the
// watchdog wakes, and spinning longer would take the cores from the tests
// that run beside this one. The dumps stay, and the next run removes what
// the ended one left and delivers them.
TEST_F(CrashReportFaultTest, ServiceThatNeverAnswersIsEndedByTheWatchdog) {
  tools::ReceivingService::Options options;
  options.upload.initial = *tools::ParseAnswer("hang");
  options.telemetry.initial = *tools::ParseAnswer("hang");
  CrashReportJobFixture::StartService(std::move(options));
  const std::vector<std::string> dumps = {AddFile("a.dmp", "MDMP a"),
                                          AddFile("b.dmp", "MDMP b"),
                                          AddFile("c.dmp", "MDMP c")};
  const HostFile log(AddFile("Player.log", test::Pattern(kCutSize + 1)));

  const test::Command command = test::CrashReportCommand(
      CRASHREPORT_EXE, {Argument(ScanMembers(kWithLogs))});
  const auto start = std::chrono::steady_clock::now();
  test::ChildProcess run(command.program, command.arguments);
  WaitForUploads(1);
  std::this_thread::sleep_until(start + std::chrono::seconds(110));
  test::ProcessEnd end;
  {
    const BusyCores game;
    end = run.Wait();
  }
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_TRUE(end.exited && end.status == 0);
  EXPECT_FALSE(RanToTheEnd());
  // Two minutes, and the moment the watchdog's thread may wait for a core.
  EXPECT_LT(took, std::chrono::seconds(125));
  EXPECT_FALSE(service_->uploads().empty());
  for (const std::string& dump : dumps)
    EXPECT_TRUE(fs::exists(dump)) << dump;
  EXPECT_TRUE(log.Unchanged());

  service_->Stop();
  StartService("accept");
  Run(ScanMembers(kWithLogs));
  EXPECT_TRUE(RanToTheEnd());
  EXPECT_EQ(service_->uploads().size(), dumps.size());
  for (const std::string& dump : dumps)
    EXPECT_FALSE(fs::exists(dump)) << dump;
  EXPECT_EQ(ProcessDirFiles(),
            (std::vector<std::string>{"delivery.db", "telvane.log"}));
  EXPECT_TRUE(log.Unchanged());
}

// Runs killed at random points of a scan with logs, one after the other:
// every dump either is still on disk, whole, or was accepted; the host's
// logs keep their bytes and times; and the next run that ends leaves
// nothing of the killed ones behind.
TEST_F(CrashReportFaultTest, KilledRunsLoseNoDumpAndChangeNoLog) {
  constexpr int kDumps = 80;
  constexpr int kKilledRuns = 10;
  // A little slower than loopback, so that kills also land in the middle of
  // an upload.
  StartService("delay:40");
  std::map<std::string, std::string> dumps;  // path -> content
  for (int i = 0; i < kDumps; ++i) {
    const std::string name =
        (i % 2 ? "sub/d" : "d") + std::to_string(i) + ".dmp";
    const std::string content =
        "MDMP " + std::to_string(i) + test::Pattern(1000 + i);
    dumps[AddFile(name, content)] = content;
  }
  const std::vector<HostFile> logs = {
      HostFile(AddFile("Player.log", "small log")),
      HostFile(AddFile("error.log", "small log")),
      HostFile(AddFile("sub/Player.log", test::Pattern(kCutSize + 2000))),
  };
  std::map<std::string, std::string> hashes;
  const auto check = [&] {
    const std::map<std::string, int> accepted = AcceptedDumps(hashes);
    for (const auto& [path, content] : dumps) {
      if (fs::exists(path)) {
        EXPECT_TRUE(ReadFile(path) == content) << path;
      } else {
        EXPECT_TRUE(accepted.contains(Sha256(content))) << path;
      }
    }
    for (const HostFile& log : logs)
      EXPECT_TRUE(log.Unchanged()) << log.path();
  };

  // The same delays on every run of the test.
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> delay_ms(0, 1200);
  for (int run = 0; run < kKilledRuns; ++run) {
    SCOPED_TRACE(run);
    const test::Command command = test::CrashReportCommand(
        CRASHREPORT_EXE, {Argument(ScanMembers(kWithLogs))});
    test::ChildProcess child(command.program, command.arguments);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
    child.Kill(SIGKILL);
    const test::ProcessEnd end = child.Wait();
    EXPECT_TRUE(end.signal == SIGKILL || (end.exited && end.status == 0));
    check();
  }

  Run(ScanMembers(kWithLogs));
  check();
  for (const auto& [path, content] : dumps)
    EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_EQ(ProcessDirFiles(),
            (std::vector<std::string>{"delivery.db", "telvane.log"}));
}

// A run killed while it sends leaves its archive and the copy of its log's
// tail behind; the next run removes both and delivers the dump.
TEST_F(CrashReportFaultTest, LeftoverOfAKilledRunIsRemovedByTheNextRun) {
  StartService("hang", {"1:accept"});
  const std::string dump = AddFile("crash.dmp", "MDMP");
  const HostFile log(AddFile("Player.log", test::Pattern(kCutSize + 1)));
  const test::Command command = test::CrashReportCommand(
      CRASHREPORT_EXE, {Argument(ScanMembers(kWithLogs))});
  test::ChildProcess killed(command.program, command.arguments);
  // The run holds its files while it waits for the answer, and its claim
  // on the dump.
  ASSERT_NO_FATAL_FAILURE(WaitForUploads(1));
  const std::vector<std::string> left = TemporaryFiles();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_TRUE(std::regex_match(left[0], std::regex(R"(\d+-crash\.0\.cut)")));
  EXPECT_TRUE(std::regex_match(left[1], std::regex(R"(\d+-crash\.zip)")));
  const auto claims = [this] {
    const std::vector<std::string> names = ProcessDirFiles();
    return std::count_if(
        names.begin(), names.end(),
        [](const std::string& name) { return name.ends_with(".claim"); });
  };
  EXPECT_EQ(claims(), 1);
  killed.Kill(SIGKILL);
  EXPECT_EQ(killed.Wait().signal, SIGKILL);
  EXPECT_EQ(TemporaryFiles(), left);
  EXPECT_EQ(claims(), 1);

  Run(ScanMembers(kWithLogs));

  EXPECT_EQ(ProcessDirFiles(),
            (std::vector<std::string>{"delivery.db", "telvane.log"}));
  EXPECT_EQ(service_->uploads().size(), 2u);
  EXPECT_FALSE(fs::exists(dump));
  EXPECT_TRUE(log.Unchanged());
}

// Two runs share the work directory. What the live one holds, its archive
// while it is being sent and the copy of its log's tail, stays as it is;
// the other run packs the tail of its own log of the same name, in files of
// its own.
TEST_F(CrashReportFaultTest, FilesThatALiveRunHoldsStay) {
  // The live run's first upload hangs and its retries are refused; the
  // other run's upload, the second, is accepted.
  StartService("hang", {"1:accept", "2:status:500"});
  const std::string live_dump = AddFile("live/crash.dmp", "MDMP live");
  AddFile("live/Player.log", test::Pattern(kCutSize + 1));
  const std::string other_dump = AddFile("other/crash.dmp", "MDMP other");
  const std::string other_log =
      AddFile("other/Player.log", std::string(kCutSize + 2, 'o'));
  const test::Command command = test::CrashReportCommand(
      CRASHREPORT_EXE,
      {Argument(R"("start_mode":1,"dmp_dir_path":")" +
                Json(dumps_dir() + "/live") + "\"" + kWithLogs)});
  test::ChildProcess live(command.program, command.arguments);
  ASSERT_NO_FATAL_FAILURE(WaitForUploads(1));
  std::map<std::string, std::string> held;  // name -> content
  for (const std::string& name : TemporaryFiles())
    held[name] = ReadFile(process_dir() + "/" + name);
  ASSERT_EQ(held.size(), 2u);

  Run(R"("start_mode":1,"dmp_dir_path":")" + Json(dumps_dir() + "/other") +
      "\"" + kWithLogs);

  for (const auto& [name, content] : held)
    EXPECT_TRUE(ReadFile(process_dir() + "/" + name) == content) << name;
  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_TRUE(test::ZipEntryContent(uploads[1].stored, "Player.log") ==
              ReadFile(other_log).substr(2));
  EXPECT_FALSE(fs::exists(other_dump));
  for (const std::string& event : Events())
    EXPECT_FALSE(event.starts_with("CrashReportCutFailed")) << event;

  // Without an acceptance the live run gives up on its dump, keeps it and
  // removes its own files.
  service_->Stop();
  const test::ProcessEnd end = live.Wait();
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.status, 0);
  EXPECT_TRUE(fs::exists(live_dump));
  EXPECT_EQ(ProcessDirFiles(),
            (std::vector<std::string>{"delivery.db", "telvane.log"}));
}

// A dump that vanishes, shrinks or grows after the walk found it. Before its
// report reads it, the report sends it as it is then. Once it has been
// read, the service has not seen what is there now: the dump stays for the
// next run, which sends that.
TEST_F(CrashReportFaultTest, DumpThatChangesAfterTheWalkIsNeverLost) {
  const std::string kOriginal = "MDMP second, as written";
  const std::string kShrunk = "MDMP";
  const std::string kGrown = kOriginal + " and then some";
  const std::string kRewritten = "MDMP second, rewritten!";
  ASSERT_EQ(kRewritten.size(), kOriginal.size()) << kRewritten;
  struct Case {
    const char* name;
    // The upload during which the change comes: 1 is the report of the dump
    // before, 2 the dump's own.
    int during;
    std::string changed;  // the dump's new content; empty: it is removed
    std::string sent;     // what the service gets; empty: nothing
  };
  const std::vector<Case> cases = {
      {"vanishes before its report", 1, "", ""},
      {"shrinks before its report", 1, kShrunk, kShrunk},
      {"grows before its report", 1, kGrown, kGrown},
      {"vanishes while the service answers", 2, "", kOriginal},
      {"shrinks while the service answers", 2, kShrunk, kOriginal},
      {"grows while the service answers", 2, kGrown, kOriginal},
      {"is rewritten while the service answers", 2, kRewritten, kOriginal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The walk lists the directory, then reports its dumps in the listed
    // order: the second one has been found when the first one is sent.
    AddFile("a.dmp", "MDMP");
    AddFile("b.dmp", "MDMP");
    AddFile("Player.log", "log");
    std::vector<std::string> listed;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(dumps_dir())) {
      if (entry.path().extension() == ".dmp")
        listed.push_back(entry.path().filename().string());
    }
    AddFile(listed[0], "MDMP first");
    const std::string dump = AddFile(listed[1], kOriginal);
    tools::ReceivingService::Options options;
    options.on_request = [&c, &dump](const std::string& line) {
      if (!line.starts_with("upload " + std::to_string(c.during) + ":"))
        return;
      if (c.changed.empty())
        fs::remove(dump);
      else
        std::ofstream(dump, std::ios::binary) << c.changed;
    };
    CrashReportJobFixture::StartService(std::move(options));
    fs::remove(process_dir() + "/telvane.log");

    Run(ScanMembers(kWithLogs));

    std::vector<tools::ReceivedUpload> uploads = service_->uploads();
    ASSERT_EQ(uploads.size(), c.sent.empty() ? 1u : 2u);
    if (!c.sent.empty()) {
      EXPECT_EQ(test::ZipEntryContent(uploads[1].stored, listed[1]), c.sent);
    }
    const bool kept = c.during == 2 && !c.changed.empty();
    EXPECT_EQ(fs::exists(dump), kept);
    const std::vector<std::string> events = Events();
    if (c.sent.empty()) {
      EXPECT_NE(std::find(events.begin(), events.end(),
                          "CrashReportPathNotExist: ROOT/" + listed[1]),
                events.end());
    }
    const std::vector<std::string> log = JobLog();
    EXPECT_EQ(std::find(log.begin(), log.end(),
                        "ERROR crash_report.cc: CrashReport dump changed "
                        "while it was reported, kept: ROOT/" +
                            listed[1]) != log.end(),
              kept);
    if (kept) {
      EXPECT_EQ(ReadFile(dump), c.changed);
      Run(ScanMembers(kWithLogs));
      uploads = service_->uploads();
      ASSERT_EQ(uploads.size(), 3u);
      EXPECT_EQ(test::ZipEntryContent(uploads[2].stored, listed[1]), c.changed);
      EXPECT_FALSE(fs::exists(dump));
    }
    service_->Stop();
    fs::remove_all(dumps_dir());
  }
}

// The game goes on writing its log while the process packs it: each archive
// holds a stretch of the log as it was, whole or cut, and the log holds
// exactly what the game wrote.
TEST_F(CrashReportFaultTest, LogThatGrowsWhileItIsPackedIsOnlyRead) {
  StartService("accept");
  for (int i = 0; i < 8; ++i)
    AddFile("d" + std::to_string(i) + ".dmp", "MDMP " + std::to_string(i));
  // Lines of kLine bytes that tell their place, up to a little under the
  // size from which the log is cut, which it passes while the scan goes on.
  constexpr size_t kLine = 100;
  std::string written;
  int line_number = 0;
  const auto next_line = [&line_number] {
    std::string line = "line " + std::to_string(++line_number);
    line.resize(kLine - 1, '.');
    return line + "\n";
  };
  while (written.size() < kCutSize - 200'000)
    written += next_line();
  const std::string log = AddFile("Player.log", written);
  std::atomic<bool> stop = false;
  std::thread game([&] {
    std::ofstream out(log, std::ios::binary | std::ios::app);
    while (!stop) {
      const std::string line = next_line();
      out << line << std::flush;
      written += line;
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });

  Run(ScanMembers(kWithLogs));
  stop = true;
  game.join();

  EXPECT_TRUE(ReadFile(log) == written);
  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 8u);
  for (const tools::ReceivedUpload& upload : uploads) {
    SCOPED_TRACE(upload.number);
    const std::string entry =
        test::ZipEntryContent(upload.stored, "Player.log");
    ASSERT_GE(entry.size(), kCutSize - 200'000);
    // The first whole line tells where in the log the entry starts.
    const size_t next = entry.find('\n') + 1;
    const size_t line = std::stoul(entry.substr(next + 5, 12));
    const size_t offset = (line - 1) * kLine - next;
    EXPECT_EQ(written.compare(offset, entry.size(), entry), 0) << offset;
  }
}

// Entries that are no plain files. None stalls the run or ends it early,
// none is written to, and each real dump is reported with the logs that
// can be read.
TEST_F(CrashReportFaultTest, SpecialFilesNeitherStallNorEndTheRun) {
  const auto fifo = [this](const std::string& name) {
    return [this, name] {
      ASSERT_EQ(mkfifo((dumps_dir() + "/" + name).c_str(), 0644), 0);
    };
  };
  struct Case {
    const char* name;
    std::function<void()> make;  // next to crash.dmp and Player.log
    std::string members;
    // The entries of the one archive sent; none: nothing is sent.
    std::optional<std::vector<std::string>> entries;
    // Wine shows FIFOs and links to nothing otherwise than Linux, as no
    // Windows file system has them; under Wine only what must hold
    // whatever they are is checked.
    bool wine_differs = false;
  };
  const std::string scan = ScanMembers(kWithLogs);
  const std::vector<Case> cases = {
      {"a FIFO named like a dump", fifo("pipe.dmp"), scan,
       std::vector<std::string>{"crash.dmp", "Player.log"}},
      {"a FIFO named like a log", fifo("error.log"), scan,
       std::vector<std::string>{"crash.dmp", "Player.log"}, true},
      {"a directory named like a log",
       [this] { fs::create_directory(dumps_dir() + "/error.log"); }, scan,
       std::vector<std::string>{"crash.dmp", "Player.log"}},
      // Not even root can read it: the entry stays empty.
      {"a log that is a link to itself",
       [this] { fs::create_symlink("error.log", dumps_dir() + "/error.log"); },
       scan, std::vector<std::string>{"crash.dmp", "Player.log", "error.log"},
       true},
      {"a link back to the root",
       [this] {
         fs::create_directory_symlink(dumps_dir(), dumps_dir() + "/loop");
       },
       scan, std::vector<std::string>{"crash.dmp", "Player.log"}},
      {"a FIFO as the one dump to report", fifo("pipe.dmp"),
       R"("start_mode":2,"dmp_path":")" + Json(dumps_dir() + "/pipe.dmp") +
           "\"",
       std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartService("accept");
    const std::string dump = AddFile("crash.dmp", "MDMP");
    const HostFile log(AddFile("Player.log", "log"));
    c.make();
    fs::remove(process_dir() + "/telvane.log");

    Run(c.members);

    EXPECT_TRUE(RanToTheEnd());
    const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
    ASSERT_EQ(uploads.size(), c.entries ? 1u : 0u);
    const bool exact = !c.wine_differs || !test::CrashReportUnderWine();
    if (c.entries) {
      std::vector<std::string> names = test::ZipEntryNames(uploads[0].stored);
      std::sort(names.begin() + 1, names.end());
      if (exact) {
        EXPECT_EQ(names, *c.entries);
      }
      EXPECT_FALSE(fs::exists(dump));
    } else {
      EXPECT_TRUE(fs::exists(dump));
      if (exact) {
        EXPECT_EQ(
            JobLog().back(),
            "ERROR crash_report.cc: CrashReport not a file: ROOT/pipe.dmp");
      }
    }
    EXPECT_TRUE(log.Unchanged());
    service_->Stop();
    fs::remove_all(dumps_dir());
  }
}

// Names that are not UTF-8, of a directory, a dump and a log: the dump is
// found, sent with its log and deleted; texts show U+FFFD for such bytes.
TEST_F(CrashReportFaultTest, NamesThatAreNotUtf8AreReportedWithTheirLogs) {
  StartService("accept");
  const std::string dump = AddFile("saves\xFF/caf\xE9.dmp", "MDMP odd");
  const HostFile log(AddFile("saves\xFF/caf\xE9.log", "odd log"));

  Run(ScanMembers(kWithLogs));

  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(test::ZipEntryNames(uploads[0].stored).size(), 2u);
  EXPECT_EQ(test::ZipEntryContent(uploads[0].stored, "*.dmp"), "MDMP odd");
  EXPECT_EQ(test::ZipEntryContent(uploads[0].stored, "*.log"), "odd log");
  EXPECT_FALSE(fs::exists(dump));
  EXPECT_TRUE(log.Unchanged());
  EXPECT_EQ(Events(),
            (std::vector<std::string>{
                "CrashReportWithLog: ROOT/saves\uFFFD/caf\uFFFD.dmp,8",
                "CrashReportScan: 1 files 1"}));
}

// A tree deeper than one path can name: what a path reaches is reported,
// the dump below that stays, and the walk ends.
TEST_F(CrashReportFaultTest, TreeDeeperThanAPathCanNameIsWalkedAsFarAsItGoes) {
  StartService("accept");
  const std::string top = AddFile("top.dmp", "MDMP top");
  // 24 levels of 200 bytes: the bottom lies 4,800 bytes below dumps_dir(),
  // more than the 4,095 of the longest path.
  const std::string level(200, 'd');
  int dir = open(dumps_dir().c_str(), O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir, 0);
  const auto write_dump = [&dir](const char* name, const std::string& content) {
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, content.data(), content.size()),
              static_cast<ssize_t>(content.size()));
    close(fd);
  };
  for (int depth = 1; depth <= 24; ++depth) {
    ASSERT_EQ(mkdirat(dir, level.c_str(), 0755), 0);
    const int next = openat(dir, level.c_str(), O_DIRECTORY | O_CLOEXEC);
    close(dir);
    dir = next;
    ASSERT_GE(dir, 0);
    if (depth == 4)
      write_dump("reached.dmp", "MDMP reached");
  }
  write_dump("deep.dmp", "MDMP deep");

  Run(ScanMembers());

  std::vector<std::string> received;
  for (const tools::ReceivedUpload& upload : service_->uploads())
    received.push_back(Received(upload));
  std::sort(received.begin(), received.end());
  EXPECT_EQ(received, (std::vector<std::string>{"MDMP reached", "MDMP top"}));
  EXPECT_FALSE(fs::exists(top));
  struct stat status;
  EXPECT_EQ(fstatat(dir, "deep.dmp", &status, 0), 0);
  close(dir);
  EXPECT_EQ(Events().back(), "CrashReportScan: 2 files 0");
  // std::filesystem cannot remove what no path names.
  EXPECT_EQ(test::RunProcess("rm", {"-rf", dumps_dir()}), 0);
}

// Ten thousand small dumps in one directory: the process's memory stays
// within a bound, the run ends, and every dump is either still there or
// was accepted.
TEST_F(CrashReportFaultTest, TenThousandDumps) {
  if (test::CrashReportUnderWine()) {
    GTEST_SKIP() << "Wine's file calls take the run past the watchdog's two "
                    "minutes; the bound is the shared code's, shown natively";
  }
  StartService("accept");
  const auto peak_rss_kib = [this](int dumps) {
    std::vector<std::pair<std::string, std::string>> written;
    for (int i = 0; i < dumps; ++i) {
      const std::string content = "MDMP " + std::to_string(i);
      written.emplace_back(AddFile("d" + std::to_string(i) + ".dmp", content),
                           content);
    }
    const test::Command command =
        test::CrashReportCommand(CRASHREPORT_EXE, {Argument(ScanMembers())});
    test::ChildProcess child(command.program, command.arguments);
    const test::ProcessEnd end = child.Wait();
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.status, 0);
    std::map<std::string, std::string> hashes;
    const std::map<std::string, int> accepted = AcceptedDumps(hashes);
    for (const auto& [path, content] : written) {
      if (!fs::exists(path)) {
        EXPECT_TRUE(accepted.contains(Sha256(content))) << path;
      }
    }
    return end.peak_rss_kib;
  };
  const long few = peak_rss_kib(100);
  const long many = peak_rss_kib(10'000);
  std::cout << "peak RSS: " << few << " KiB for 100 dumps, " << many
            << " KiB for 10,000\n";
  RecordProperty("peak_rss_kib_100", std::to_string(few));
  RecordProperty("peak_rss_kib_10000", std::to_string(many));
#if !defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer holds freed memory back (256 MiB by default), so the
  // bound says nothing there.
  EXPECT_LT(many, few + 64 * 1024);
#endif
}

}  // namespace
