// The real crashreport executable, run after run and several at once over
// the same dumps, against the local receiving service: each dump reaches
// the service once, none is lost, and none waits behind another for ever.

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crash_plugin/report_process/crash_report_job_fixture.h"
#include "gtest/gtest.h"
#include "test/process.h"
#include "tools/receiving_service/receiving_service.h"

namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Sha256;

// Sets or clears the immutable attribute, which keeps even root from
// deleting the file: the stand-in for a dump that another program holds
// open without sharing deletion, or that lies in a folder the player may
// not write. False where the file system has no such attribute.
bool SetImmutable(const std::string& path, bool immutable) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

class CrashReportDeliveryTest : public test::CrashReportJobFixture {
 protected:
  void TearDown() override {
    // The temporary directory must be removable.
    for (const std::string& path : immutable_)
      SetImmutable(path, false);
  }

  // Starts the service with upload answers: the first, then each of
  // switches ("N:ANSWER") from request N + 1 on.
  void StartService(const std::string& upload,
                    const std::vector<std::string>& switches = {},
                    std::function<void(const std::string&)> on_request = {}) {
    tools::ReceivingService::Options options;
    options.upload.initial = *tools::ParseAnswer(upload);
    for (const std::string& text : switches)
      options.upload.switches.insert(*tools::ParseAnswerSwitch(text));
    options.on_request = std::move(on_request);
    CrashReportJobFixture::StartService(std::move(options));
  }

  // The launch members of a single-dump run for path.
  std::string SingleMembers(const std::string& path) const {
    return R"("start_mode":2,"dmp_path":")" + Json(path) + "\"";
  }

  std::unique_ptr<test::ChildProcess> Start(const std::string& members) const {
    const test::Command command =
        test::CrashReportCommand(CRASHREPORT_EXE, {Argument(members)});
    return std::make_unique<test::ChildProcess>(command.program,
                                                command.arguments);
  }

  // A run that is ended, as the watchdog ends one, once the service has
  // received upload number `uploads`.
  void RunUntilUpload(const std::string& members, size_t uploads) {
    std::unique_ptr<test::ChildProcess> run = Start(members);
    ASSERT_NO_FATAL_FAILURE(WaitForUploads(uploads));
    run->Kill(SIGKILL);
    EXPECT_EQ(run->Wait().signal, SIGKILL);
  }

  // The lines of the process's log that start with prefix.
  std::vector<std::string> LinesStartingWith(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : ProcessLog()) {
      if (line.starts_with(prefix))
        lines.push_back(line);
    }
    return lines;
  }

  // The time that ends line, "...YYYY-MM-DDTHH:MM:SS.mmmZ", in seconds
  // since 1970; -1 without one.
  static int64_t TimeAtTheEnd(const std::string& line) {
    int year, month, day, hour, minute, second, millisecond;
    if (line.size() < 24 ||
        std::sscanf(line.c_str() + line.size() - 24,
                    "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &year, &month, &day, &hour,
                    &minute, &second, &millisecond) != 7) {
      return -1;
    }
    const std::chrono::sys_days days{std::chrono::year(year) /
                                     static_cast<unsigned>(month) /
                                     static_cast<unsigned>(day)};
    return days.time_since_epoch().count() * 86400 + hour * 3600 + minute * 60 +
           second;
  }

  static int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  // An IMF-fixdate, as a service writes its Retry-After.
  static std::string HttpDate(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[64];
    std::strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
  }

  // Ten dumps in the dump directory.
  std::vector<std::string> AddTenDumps() const {
    std::vector<std::string> dumps;
    for (int i = 0; i < 10; ++i) {
      dumps.push_back(
          AddFile((i % 2 ? "sub/d" : "d") + std::to_string(i) + ".dmp",
                  "MDMP " + std::to_string(i)));
    }
    return dumps;
  }

  static std::string Url(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(LOOPBACK_PORT) + path;
  }

  bool MakeImmutable(const std::string& path) {
    if (!SetImmutable(path, true))
      return false;
    immutable_.push_back(path);
    return true;
  }

  std::vector<std::string> immutable_;
};

// Runs that start together over the same dumps: two scans, two scans that
// pack the logs, a scan and single-dump runs for some of its dumps. Each
// dump is sent by one of them only, and all are delivered.
TEST_F(CrashReportDeliveryTest, RunsAtTheSameTimeSendEachDumpOnce) {
  constexpr int kDumps = 24;
  struct Case {
    const char* name;
    // The launch members of each run, given the dumps' paths.
    std::function<std::vector<std::string>(const std::vector<std::string>&)>
        runs;
  };
  const std::vector<Case> cases = {
      {"two scans",
       [this](const std::vector<std::string>&) {
         return std::vector<std::string>{ScanMembers(), ScanMembers()};
       }},
      {"two scans with logs",
       [this](const std::vector<std::string>&) {
         return std::vector<std::string>{ScanMembers(kWithLogs),
                                         ScanMembers(kWithLogs)};
       }},
      {"a scan and three single-dump runs",
       [this](const std::vector<std::string>& dumps) {
         return std::vector<std::string>{ScanMembers(), SingleMembers(dumps[0]),
                                         SingleMembers(dumps[1]),
                                         SingleMembers(dumps[kDumps - 1])};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A little slower than loopback, so that the runs overlap.
    StartService("delay:20");
    std::map<std::string, std::string> dumps;  // path -> content
    std::vector<std::string> paths;
    for (int i = 0; i < kDumps; ++i) {
      const std::string content = "MDMP " + std::to_string(i);
      paths.push_back(AddFile(
          (i % 2 ? "sub/d" : "d") + std::to_string(i) + ".dmp", content));
      dumps[paths.back()] = content;
    }
    AddFile("Player.log", "log");

    std::vector<std::unique_ptr<test::ChildProcess>> runs;
    for (const std::string& members : c.runs(paths))
      runs.push_back(Start(members));
    for (const std::unique_ptr<test::ChildProcess>& run : runs) {
      const test::ProcessEnd end = run->Wait();
      EXPECT_TRUE(end.exited && end.status == 0);
    }

    std::map<std::string, std::string> hashes;
    const std::map<std::string, int> accepted = AcceptedDumps(hashes);
    EXPECT_EQ(service_->uploads().size(), dumps.size());
    for (const auto& [path, content] : dumps) {
      EXPECT_FALSE(fs::exists(path)) << path;
      const auto found = accepted.find(Sha256(content));
      EXPECT_EQ(found == accepted.end() ? 0 : found->second, 1) << path;
    }
    service_->Stop();
    fs::remove_all(dumps_dir());
  }
}

// An accepted dump that cannot be deleted, or that remain_file keeps, is
// not sent again by later scans: they only try the deletion again. Once it
// can go, it goes, still sent once.
TEST_F(CrashReportDeliveryTest, AcceptedDumpThatStaysIsSentOnce) {
  struct Case {
    const char* name;
    bool immutable;  // else kept by remain_file, as is the other dump
    std::string members;
  };
  const std::vector<Case> cases = {
      {"a dump that remain_file keeps", false,
       ScanMembers(R"(,"remain_file":true)")},
      {"a dump that cannot be deleted", true, ScanMembers()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartService("accept");
    const std::string dump = AddFile("kept.dmp", "MDMP kept");
    const std::string other = AddFile("sub/other.dmp", "MDMP other");
    if (c.immutable && !MakeImmutable(dump)) {
      GTEST_SKIP() << "the file system of " << dump
                   << " has no immutable attribute";
    }

    for (int run = 0; run < 3; ++run) {
      SCOPED_TRACE(run);
      Run(c.members);
      EXPECT_EQ(service_->uploads().size(), 2u);
      EXPECT_TRUE(fs::exists(dump));
      EXPECT_EQ(fs::exists(other), !c.immutable);
      const std::vector<std::string> log = JobLog();
      const auto logged = [&log](const std::string& line) {
        return std::find(log.begin(), log.end(), line) != log.end();
      };
      EXPECT_EQ(logged("INFO crash_report.cc: CrashReport accepted before, "
                       "not sent again: ROOT/kept.dmp"),
                run > 0);
      // Wine reports as done a deletion that Linux refused, as Windows
      // does for a file that another program holds open with shared
      // deletion: the dump stays all the same.
      if (!test::CrashReportUnderWine()) {
        EXPECT_EQ(logged("ERROR crash_report.cc: CrashReport remove file "
                         "failed: ROOT/kept.dmp"),
                  c.immutable);
      }
    }

    // The obstacle is gone: the next scan deletes the dump without sending
    // it.
    if (c.immutable) {
      ASSERT_TRUE(SetImmutable(dump, false));
    }
    Run(ScanMembers());
    EXPECT_EQ(service_->uploads().size(), 2u);
    EXPECT_FALSE(fs::exists(dump));
    EXPECT_FALSE(fs::exists(other));
    service_->Stop();
    fs::remove_all(dumps_dir());
  }
}

// A new dump under the name of one the service accepted is a new crash and
// is sent, also when only its content tells it apart.
TEST_F(CrashReportDeliveryTest, ChangedDumpAtARecordedPathIsSentAgain) {
  struct Case {
    const char* name;
    std::string content;
    bool same_time;
  };
  const std::vector<Case> cases = {
      {"another size", "MDMP, the next crash", false},
      {"the same size and time", "MDMP 2", true},
  };
  const std::string keep = ScanMembers(R"(,"remain_file":true)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartService("accept");
    const std::string dump = AddFile("crash.dmp", "MDMP 1");
    Run(keep);
    const fs::file_time_type written = fs::last_write_time(dump);

    AddFile("crash.dmp", c.content);
    if (c.same_time)
      fs::last_write_time(dump, written);
    Run(keep);
    Run(keep);

    const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(Received(uploads[0]), "MDMP 1");
    EXPECT_EQ(Received(uploads[1]), c.content);
    // A new crash, which the service must not take for a copy.
    EXPECT_NE(uploads[1].msg_id, uploads[0].msg_id);
    EXPECT_FALSE(uploads[1].repeat);
    service_->Stop();
    fs::remove_all(dumps_dir());
  }
}

// A run killed while the service holds its answer to an upload it has
// accepted, as when the game exits or the player pulls the plug: the next
// run sends the dump again under the same id, so the service keeps one
// copy, and the dump is deleted. So in a scan and for the one dump the host
// names.
TEST_F(CrashReportDeliveryTest, ResendAfterAKilledRunCarriesTheFirstId) {
  struct Case {
    const char* name;
    bool scan;
  };
  for (const Case& c :
       std::vector<Case>{{"a scan", true}, {"the one dump", false}}) {
    SCOPED_TRACE(c.name);
    // The first upload's answer is held until the service stops.
    StartService("delay:600000", {"1:accept"});
    const std::string dump = AddFile("crash.dmp", "MDMP once");
    const std::string members = c.scan ? ScanMembers() : SingleMembers(dump);

    ASSERT_NO_FATAL_FAILURE(RunUntilUpload(members, 1));
    Run(members);

    const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[1].msg_id, uploads[0].msg_id);
    EXPECT_EQ(uploads[1].report_id, uploads[0].msg_id);
    EXPECT_FALSE(uploads[0].repeat);
    EXPECT_TRUE(uploads[1].repeat);
    EXPECT_EQ(Received(uploads[0]), "MDMP once");
    EXPECT_EQ(uploads[1].stored, "");
    EXPECT_FALSE(fs::exists(dump));
    // The dump as the host named it, or as the scan found it.
    const std::vector<std::string> log = JobLog();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "INFO crash_report.cc: CrashReport sent again under "
                        "its first id " +
                            uploads[0].msg_id + ": ROOT/crash.dmp"),
              log.end());
    service_->Stop();
    fs::remove_all(dumps_dir());
  }
}

// A large dump first in the walk that the service never takes: a player's
// uplink too slow to carry it within the process's two minutes. Each run
// is ended while it sends, as the watchdog would end it. From the second
// run on it goes after the dumps that have not failed, which get through;
// it is still tried, last, and named in the log once it has failed in three
// runs in a row; it is delivered once the service takes it.
TEST_F(CrashReportDeliveryTest, DumpThatCannotGetThroughGoesLast) {
  // Upload 1 (run 1) and uploads from 5 on hang; 2 to 4 are accepted.
  StartService("hang", {"1:accept", "4:hang"});
  const std::string big_content = test::Pattern(4 << 20);
  const std::string big = AddFile("big.dmp", big_content);
  const std::vector<std::string> small = {AddFile("sub/a.dmp", "MDMP a"),
                                          AddFile("sub/b.dmp", "MDMP b"),
                                          AddFile("sub/c.dmp", "MDMP c")};

  ASSERT_NO_FATAL_FAILURE(RunUntilUpload(ScanMembers(), 1));
  ASSERT_NO_FATAL_FAILURE(RunUntilUpload(ScanMembers(), 5));
  std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  EXPECT_TRUE(Received(uploads[0]) == big_content);
  for (int i = 1; i <= 3; ++i)
    EXPECT_TRUE(Received(uploads[i]).starts_with("MDMP ")) << i;
  EXPECT_TRUE(Received(uploads[4]) == big_content);
  for (const std::string& dump : small)
    EXPECT_FALSE(fs::exists(dump)) << dump;
  EXPECT_TRUE(fs::exists(big));
  EXPECT_TRUE(
      Logged("INFO crash_report.cc: CrashReport not accepted in an "
             "earlier run, goes last: " +
             test::PathShownByCrashReport(big)));

  ASSERT_NO_FATAL_FAILURE(RunUntilUpload(ScanMembers(), 6));
  ASSERT_NO_FATAL_FAILURE(RunUntilUpload(ScanMembers(), 7));
  // The whole body went out each time; the answer never came.
  const std::vector<std::string> log = JobLog();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "ERROR crash_report.cc: CrashReport not accepted in 3 "
                      "runs in a row: ROOT/big.dmp, 4194304 bytes, the last "
                      "send got to 100% of the report"),
            log.end());

  service_->Stop();
  StartService("accept");
  Run(ScanMembers());
  EXPECT_EQ(service_->uploads().size(), 1u);
  EXPECT_FALSE(fs::exists(big));
}

// A log-collection service that takes requests and never answers costs the
// first event its two attempts; the events after it are only logged, and
// every dump gets through in the same run.
TEST_F(CrashReportDeliveryTest, TelemetryServiceThatHangsCostsOneEvent) {
  tools::ReceivingService::Options options;
  options.telemetry.initial = *tools::ParseAnswer("hang");
  CrashReportJobFixture::StartService(std::move(options));
  std::vector<std::string> dumps;
  for (int i = 0; i < 6; ++i)
    dumps.push_back(AddFile("d" + std::to_string(i) + ".dmp", "MDMP"));

  const auto start = std::chrono::steady_clock::now();
  Run(ScanMembers());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::steady_clock::now() - start);
  std::cout << "six dumps with a hanging log-collection service: "
            << seconds.count() << " s\n";
  RecordProperty("seconds", std::to_string(seconds.count()));

  EXPECT_TRUE(RanToTheEnd());
  EXPECT_EQ(service_->uploads().size(), dumps.size());
  for (const std::string& dump : dumps)
    EXPECT_FALSE(fs::exists(dump)) << dump;
  EXPECT_TRUE(
      Logged("WARN telemetry.cc: BlockReport: the log-collection "
             "service failed; the rest of this run's events are "
             "written to the log only"));
  // Every event still has its line.
  const std::vector<std::string> log = JobLog();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find("event: CrashReport,") !=
                                   std::string::npos;
                          }),
            6);
}

// A log-collection service that refuses the first event at once, with a
// 500 to both its attempts, and takes the rest: the run's later events
// arrive.
TEST_F(CrashReportDeliveryTest,
       TelemetryServiceThatRefusesOneEventGetsTheRest) {
  tools::ReceivingService::Options options;
  options.telemetry.initial = *tools::ParseAnswer("status:500");
  options.telemetry.switches.insert(*tools::ParseAnswerSwitch("2:accept"));
  CrashReportJobFixture::StartService(std::move(options));
  AddFile("a.dmp", "MDMP a");
  AddFile("b.dmp", "MDMP b");

  Run(ScanMembers());

  EXPECT_EQ(service_->uploads().size(), 2u);
  // The service records what it refuses too: the first event twice.
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1], events[0]);
  EXPECT_TRUE(events[2].starts_with("CrashReport: ROOT/")) << events[2];
  EXPECT_NE(events[2], events[0]);
  EXPECT_EQ(events[3], "CrashReportScan: 2 files 0");
  EXPECT_FALSE(
      Logged("WARN telemetry.cc: BlockReport: the log-collection "
             "service failed; the rest of this run's events are "
             "written to the log only"));
}

// A data-upload service that sheds load, answering every report with 429
// or 503: the run sends one request and keeps every dump, each of the others
// with a line of its own, and ends as it would; a second run at once sends
// nothing to that service and says once until when it waits. The pause is
// the answer's Retry-After, in seconds or until an HTTP date, 60 s without
// one and an hour at the most.
TEST_F(CrashReportDeliveryTest, BusyServiceIsHeardAcrossRuns) {
  struct Case {
    const char* name;
    std::string answer;
    std::string retry_after;  // as logged
    int64_t seconds;          // from the answer
    int64_t date = 0;         // the end the answer names, if any
  };
  const int64_t date = NowSeconds() + 300;
  const std::vector<Case> cases = {
      {"503 with Retry-After: 120", "status:503:120", "120", 120},
      {"429 with Retry-After: 120", "status:429:120", "120", 120},
      {"an HTTP date five minutes ahead", "status:503:" + HttpDate(date),
       HttpDate(date), 0, date},
      {"no Retry-After", "status:503", "none", 60},
      {"a Retry-After of years", "status:503:99999999", "99999999", 3600},
  };
  const std::string service = Url("/apm/dataUpload");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartService(c.answer);
    const std::vector<std::string> dumps = AddTenDumps();
    const std::string status = c.answer.substr(7, 3);

    const int64_t start = NowSeconds();
    Run(ScanMembers());
    const int64_t end = NowSeconds();

    EXPECT_EQ(service_->uploads().size(), 1u);
    for (const std::string& dump : dumps)
      EXPECT_TRUE(fs::exists(dump)) << dump;
    EXPECT_TRUE(RanToTheEnd());
    const std::vector<std::string> heeded = LinesStartingWith(
        "WARN service_pauses.cc: ServicePauses " + service +
        " answered HTTP status " + status + " (Retry-After: " + c.retry_after +
        "); nothing more is sent to it for ");
    ASSERT_EQ(heeded.size(), 1u);
    const int64_t until = TimeAtTheEnd(heeded[0]);
    if (c.date != 0) {
      EXPECT_EQ(until, c.date) << heeded[0];
    } else {
      EXPECT_GE(until, start + c.seconds - 1) << heeded[0];
      EXPECT_LE(until, end + c.seconds) << heeded[0];
    }
    EXPECT_EQ(LinesStartingWith("INFO crash_report.cc: CrashReport kept for a "
                                "later run, the data-upload service asked to "
                                "wait: ")
                  .size(),
              dumps.size() - 1);
    const std::vector<std::string> events = Events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& event) {
                              return event.starts_with("CrashReportFailed");
                            }),
              1);

    Run(ScanMembers());

    EXPECT_EQ(service_->uploads().size(), 1u);
    for (const std::string& dump : dumps)
      EXPECT_TRUE(fs::exists(dump)) << dump;
    const std::vector<std::string> waiting =
        LinesStartingWith("WARN service_pauses.cc: ServicePauses " + service +
                          " asked to wait; nothing is sent to it before ");
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(TimeAtTheEnd(waiting[0]), until);
    EXPECT_EQ(LinesStartingWith("INFO crash_report.cc: CrashReport kept for a "
                                "later run, the data-upload service asked to "
                                "wait: ")
                  .size(),
              dumps.size());
    service_->Stop();
    fs::remove_all(dumps_dir());
    fs::remove_all(process_dir());
  }
}

// Once a short pause is over, the next run sends every dump, each once; the
// dumps that waited it out kept their turn, and only the one that was
// refused goes last.
TEST_F(CrashReportDeliveryTest, DumpsThatWaitedOutAPauseGoEachOnce) {
  StartService("status:503:1", {"1:accept"});
  const std::vector<std::string> dumps = AddTenDumps();

  Run(ScanMembers());
  ASSERT_EQ(service_->uploads().size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Run(ScanMembers());

  EXPECT_EQ(service_->uploads().size(), dumps.size() + 1);
  std::map<std::string, std::string> hashes;
  const std::map<std::string, int> accepted = AcceptedDumps(hashes);
  EXPECT_EQ(accepted.size(), dumps.size());
  for (const auto& [hash, count] : accepted)
    EXPECT_EQ(count, 1) << hash;
  for (const std::string& dump : dumps)
    EXPECT_FALSE(fs::exists(dump)) << dump;
  EXPECT_EQ(LinesStartingWith("INFO crash_report.cc: CrashReport not accepted "
                              "in an earlier run, goes last: ")
                .size(),
            1u);
}

// The log-collection service alone sheds load: the run's events wait, in
// this run and the next, and the dumps go.
TEST_F(CrashReportDeliveryTest, BusyLogCollectionServicePausesOnlyTheEvents) {
  tools::ReceivingService::Options options;
  options.telemetry.initial = *tools::ParseAnswer("status:503:120");
  CrashReportJobFixture::StartService(std::move(options));
  const std::string service = Url("/common/h5log/log/batch");
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    const std::vector<std::string> dumps = {AddFile("a.dmp", "MDMP a"),
                                            AddFile("b.dmp", "MDMP b")};

    Run(ScanMembers());

    EXPECT_EQ(service_->uploads().size(), 2u * (run + 1));
    for (const std::string& dump : dumps)
      EXPECT_FALSE(fs::exists(dump)) << dump;
    EXPECT_EQ(service_->telemetry_verdicts().size(), 1u);
    EXPECT_EQ(
        LinesStartingWith(
            run == 0 ? "WARN service_pauses.cc: ServicePauses " + service +
                           " answered HTTP status 503 (Retry-After: 120)"
                     : "WARN service_pauses.cc: ServicePauses " + service +
                           " asked to wait; nothing is sent to it before ")
            .size(),
        1u);
  }
}

// Whatever lies under the ledger's name, the run delivers every dump: a
// damaged ledger is set aside and started afresh, one that cannot even be
// set aside is done without.
TEST_F(CrashReportDeliveryTest, DamagedLedgerCostsNoDump) {
  struct Case {
    const char* name;
    std::function<void(const std::string& ledger)> make;
    bool set_aside;
  };
  std::mt19937 random(11);
  std::string noise(8192, '\0');
  for (char& byte : noise)
    byte = static_cast<char>(random());
  const std::vector<Case> cases = {
      {"random bytes",
       [&noise](const std::string& ledger) {
         std::ofstream(ledger, std::ios::binary) << noise;
       },
       true},
      {"a directory that cannot be set aside",
       [](const std::string& ledger) {
         fs::create_directories(ledger);
         fs::create_directories(ledger + ".bad/in the way");
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartService("accept");
    fs::create_directories(process_dir());
    const std::string ledger = process_dir() + "/delivery.db";
    c.make(ledger);
    std::vector<std::string> dumps = {AddFile("a.dmp", "MDMP a"),
                                      AddFile("sub/b.dmp", "MDMP b")};

    Run(ScanMembers());

    EXPECT_EQ(service_->uploads().size(), 2u);
    for (const std::string& dump : dumps)
      EXPECT_FALSE(fs::exists(dump)) << dump;
    const std::string shown = test::PathShownByCrashReport(ledger);
    bool set_aside_logged = false;
    for (const std::string& line : ProcessLog()) {
      set_aside_logged |=
          line.starts_with("WARN delivery_ledger.cc: DeliveryLedger " + shown +
                           " is not a usable ledger (") &&
          line.ends_with(c.set_aside ? ", starting afresh"
                                     : "; it cannot be set aside");
    }
    EXPECT_TRUE(set_aside_logged);
    if (c.set_aside) {
      EXPECT_TRUE(ReadFile(ledger + ".bad") == noise);
      // The new ledger serves the next run.
      AddFile("c.dmp", "MDMP c");
      Run(ScanMembers());
      EXPECT_EQ(service_->uploads().size(), 3u);
      for (const std::string& line : ProcessLog())
        EXPECT_EQ(line.find("not a usable ledger"), std::string::npos);
    }
    service_->Stop();
    fs::remove_all(dumps_dir());
    fs::remove_all(process_dir());
  }
}

// Runs killed right as the service accepts one of their dumps, one after
// the other, then a run that ends: no dump is lost. A kill that lands
// after the service's acceptance and before the ledger's record of it
// leaves the dump to be sent once more; that window is the only way to a
// second upload, so there are at most as many as kills, and each carries
// its first upload's id: the service keeps one copy of every dump.
TEST_F(CrashReportDeliveryTest, KillsRightAfterAcceptanceLoseNoDump) {
  constexpr int kDumps = 40;
  constexpr int kKilledRuns = 12;
  std::atomic<pid_t> target = 0;
  std::atomic<int> accepted_before_kill = 0;
  // The same kills on every run of the test: which acceptance of a run
  // ends it, and how soon after the service has decided.
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> which(1, 3);
  std::mt19937 delay_random(1210);
  std::uniform_int_distribution<int> delay_us(0, 3000);
  std::vector<std::thread> killers;
  std::mutex killers_mutex;
  StartService("accept", {}, [&](const std::string& line) {
    // The service has judged and stored the upload and is about to answer
    // that it accepts it.
    if (!line.starts_with("upload ") ||
        line.find("answered accept") == std::string::npos)
      return;
    if (--accepted_before_kill != 0)
      return;
    std::lock_guard lock(killers_mutex);
    killers.emplace_back([pid = target.load(), us = delay_us(delay_random)] {
      std::this_thread::sleep_for(std::chrono::microseconds(us));
      if (pid > 0)
        kill(pid, SIGKILL);
    });
  });
  std::map<std::string, std::string> dumps;  // path -> content
  for (int i = 0; i < kDumps; ++i) {
    const std::string content = "MDMP " + std::to_string(i);
    dumps[AddFile("d" + std::to_string(i) + ".dmp", content)] = content;
  }

  std::map<std::string, std::string> hashes;
  for (int run = 0; run < kKilledRuns; ++run) {
    SCOPED_TRACE(run);
    accepted_before_kill = which(random);
    std::unique_ptr<test::ChildProcess> child = Start(ScanMembers());
    target = child->pid();
    const test::ProcessEnd end = child->Wait();
    EXPECT_TRUE(end.signal == SIGKILL || (end.exited && end.status == 0));
    const std::map<std::string, int> accepted = AcceptedDumps(hashes);
    for (const auto& [path, content] : dumps) {
      if (!fs::exists(path)) {
        EXPECT_TRUE(accepted.contains(Sha256(content))) << path;
      }
    }
  }
  accepted_before_kill = 0;
  Run(ScanMembers());
  for (std::thread& killer : killers)
    killer.join();

  const std::map<std::string, int> accepted = AcceptedDumps(hashes);
  for (const auto& [path, content] : dumps) {
    EXPECT_FALSE(fs::exists(path)) << path;
    const auto found = accepted.find(Sha256(content));
    ASSERT_NE(found, accepted.end()) << path;
    EXPECT_EQ(found->second, 1) << path;
  }
  // Every second upload against the first one of the same dump.
  std::map<std::string, std::string> first_ids;  // dump SHA-256 -> msgId
  int duplicates = 0;
  int under_first_id = 0;
  for (const tools::ReceivedUpload& upload : service_->uploads()) {
    if (upload.verdict != "ok" || upload.answer != "accept")
      continue;
    const auto [first, added] =
        first_ids.try_emplace(upload.dump_sha256, upload.msg_id);
    if (added)
      continue;
    ++duplicates;
    under_first_id += upload.msg_id == first->second && upload.repeat;
  }
  std::cout << duplicates << " of " << kKilledRuns
            << " kills right after an acceptance fell between the service's "
               "acceptance and the ledger's record; "
            << under_first_id
            << " of the second uploads carried their first upload's id\n";
  RecordProperty("duplicates", std::to_string(duplicates));
  EXPECT_LE(duplicates, kKilledRuns);
  EXPECT_EQ(under_first_id, duplicates);
}

}  // namespace
