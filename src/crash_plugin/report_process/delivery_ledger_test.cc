#include "crash_plugin/report_process/delivery_ledger.h"

#include <sqlite3.h>
#include <xxhash.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/process_log.h"
#include "test/scoped_temp_dir.h"

namespace tlv {
namespace {

namespace fs = std::filesystem;
using State = DeliveryRecord::State;

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(fs::u8path(path), std::ios::binary | std::ios::trunc)
      << content;
}

std::string ReadFile(const std::string& path) {
  return base::utils::ReadFileToString(base::utils::Path(path));
}

// A work directory with dumps in it, and the ledger file's place.
class DeliveryLedgerTest : public ::testing::Test {
 protected:
  base::utils::Path Dump(const std::string& name,
                         const std::string& content = "MDMP") const {
    const std::string path = temp_.path() + "/" + name;
    WriteFile(path, content);
    return base::utils::Path(path);
  }
  base::utils::FileInfo Info(const base::utils::Path& dump) const {
    return *base::utils::GetFileInfo(dump);
  }
  std::string LedgerFile() const {
    return temp_.path() + "/" + DeliveryLedger::kFileName;
  }
  std::string SetAsideFile() const {
    return temp_.path() + "/" + DeliveryLedger::kSetAsideName;
  }

  test::ScopedTempDir temp_;
  const base::utils::Path dir_{temp_.path()};
  test::ProcessLog log_;
};

// A dump's way through the states, as a later run reads them back, under
// the one id that its first attempt drew.
TEST_F(DeliveryLedgerTest, RecordsEachStepOfADumpForLaterRuns) {
  const base::utils::Path dump = Dump("a.dmp");
  std::string id;
  {
    DeliveryLedger ledger(dir_);
    ASSERT_TRUE(ledger.on());
    EXPECT_FALSE(ledger.Find(dump));
    id = ledger.RecordAttempt(dump, Info(dump), /*same_dump=*/false);
    EXPECT_EQ(id.size(), 32u);
    ledger.RecordProgress(dump, 12);
    // A run ended while it sent leaves this.
    const std::optional<DeliveryRecord> sending = ledger.Find(dump);
    ASSERT_TRUE(sending);
    EXPECT_EQ(sending->state, State::kSending);
    EXPECT_EQ(sending->failed_runs, 1);
    EXPECT_EQ(sending->sent_percent, 12);
    EXPECT_EQ(sending->report_id, id);
    EXPECT_TRUE(sending->Describes(Info(dump)));
  }
  {
    DeliveryLedger ledger(dir_);
    EXPECT_EQ(ledger.FailedRunsAtOpen(dump), 1);
    EXPECT_EQ(ledger.FailedRunsAtOpen(base::utils::Path("/elsewhere.dmp")), 0);
    EXPECT_EQ(ledger.RecordAttempt(dump, Info(dump), true), id);
    ledger.RecordFailure(dump, 40);
    const std::optional<DeliveryRecord> failed = ledger.Find(dump);
    EXPECT_EQ(failed->state, State::kFailed);
    EXPECT_EQ(failed->failed_runs, 2);
    EXPECT_EQ(failed->sent_percent, 40);
  }
  {
    DeliveryLedger ledger(dir_);
    EXPECT_EQ(ledger.FailedRunsAtOpen(dump), 2);
    EXPECT_EQ(ledger.RecordAttempt(dump, Info(dump), true), id);
    ledger.RecordAcceptance(dump, Info(dump), ContentHash(7), id);
    const std::optional<DeliveryRecord> accepted = ledger.Find(dump);
    EXPECT_EQ(accepted->state, State::kAccepted);
    EXPECT_EQ(accepted->failed_runs, 0);
    EXPECT_EQ(accepted->content_hash, "xxh3:0000000000000007");
    EXPECT_EQ(accepted->report_id, id);
    // A dump sent again as asked stays accepted under its id, whatever that
    // attempt comes to.
    EXPECT_EQ(ledger.RecordAttempt(dump, Info(dump), true), id);
    ledger.RecordFailure(dump, 3);
    EXPECT_EQ(ledger.Find(dump)->state, State::kAccepted);
  }
  {
    DeliveryLedger ledger(dir_);
    EXPECT_EQ(ledger.FailedRunsAtOpen(dump), 0);
    // Another dump under the same name starts its own count under an id of
    // its own.
    const base::utils::Path rewritten = Dump("a.dmp", "MDMP, a new crash");
    const std::string new_id =
        ledger.RecordAttempt(rewritten, Info(rewritten), false);
    EXPECT_NE(new_id, id);
    const std::optional<DeliveryRecord> fresh = ledger.Find(rewritten);
    EXPECT_EQ(fresh->state, State::kSending);
    EXPECT_EQ(fresh->failed_runs, 1);
    EXPECT_EQ(fresh->content_hash, "");
    EXPECT_EQ(fresh->report_id, new_id);
  }
}

// Two runs at once share the file: each sees what the other recorded.
TEST_F(DeliveryLedgerTest, TwoLiveRunsShareIt) {
  const base::utils::Path dump = Dump("a.dmp");
  DeliveryLedger first(dir_);
  DeliveryLedger second(dir_);
  ASSERT_TRUE(first.on());
  ASSERT_TRUE(second.on());
  first.RecordAcceptance(dump, Info(dump), ContentHash(1), "id");
  ASSERT_TRUE(second.Find(dump));
  EXPECT_EQ(second.Find(dump)->state, State::kAccepted);
}

// A record goes with its dump, and its id with it: a dump that comes back
// under the name is a new one.
TEST_F(DeliveryLedgerTest, OpeningDropsGoneDumpsAndKeepsItBounded) {
  const base::utils::Path kept = Dump("kept.dmp");
  const base::utils::Path gone = Dump("gone.dmp");
  std::string gone_id;
  {
    DeliveryLedger ledger(dir_);
    ledger.RecordAcceptance(kept, Info(kept), ContentHash(1), "kept");
    gone_id = ledger.RecordAttempt(gone, Info(gone), false);
  }
  fs::remove(fs::u8path(gone.ToUtf8()));
  {
    DeliveryLedger ledger(dir_);
    EXPECT_TRUE(ledger.Find(kept));
    EXPECT_FALSE(ledger.Find(gone));
    Dump("gone.dmp");
    EXPECT_NE(ledger.RecordAttempt(gone, Info(gone), true), gone_id);
  }

  // Beyond the bound the records changed longest ago go, whichever state
  // they are in.
  constexpr int kCapacity = 50;
  constexpr int kMore = 10;
  std::vector<base::utils::Path> dumps;
  {
    DeliveryLedger ledger(dir_, kCapacity);
    for (int i = 0; i < kCapacity + kMore; ++i) {
      dumps.push_back(Dump("d" + std::to_string(i) + ".dmp"));
      ledger.RecordAttempt(dumps.back(), Info(dumps.back()), false);
    }
  }
  DeliveryLedger ledger(dir_, kCapacity);
  EXPECT_FALSE(ledger.Find(kept));
  for (int i = 0; i < kMore; ++i)
    EXPECT_FALSE(ledger.Find(dumps[i])) << i;
  EXPECT_TRUE(ledger.Find(dumps[kMore]));
  EXPECT_TRUE(ledger.Find(dumps.back()));
}

// Whatever lies under the ledger's name, the run gets a working ledger:
// what is not one is set aside as it was, and logged.
TEST_F(DeliveryLedgerTest, FileThatIsNoLedgerIsSetAsideAndStartedAfresh) {
  // A real ledger cut short, a few pages in.
  const auto truncated_ledger = [this] {
    {
      DeliveryLedger ledger(dir_);
      for (int i = 0; i < 400; ++i) {
        const base::utils::Path dump = Dump("t" + std::to_string(i) + ".dmp");
        ledger.RecordAttempt(dump, Info(dump), false);
      }
    }
    fs::resize_file(LedgerFile(), fs::file_size(LedgerFile()) / 2);
  };
  struct Case {
    const char* name;
    std::function<void()> make;
    bool is_file;
  };
  std::mt19937 random(7);
  std::string noise(20000, '\0');
  for (char& byte : noise)
    byte = static_cast<char>(random());
  const std::vector<Case> cases = {
      {"random bytes", [&] { WriteFile(LedgerFile(), noise); }, true},
      {"a ledger cut short", truncated_ledger, true},
      {"another program's database",
       [this] {
         sqlite3* db = nullptr;
         ASSERT_EQ(sqlite3_open(LedgerFile().c_str(), &db), SQLITE_OK);
         ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE scores (name, points)",
                                nullptr, nullptr, nullptr),
                   SQLITE_OK);
         sqlite3_close(db);
       },
       true},
      {"a ledger of a later version",
       [this] {
         DeliveryLedger{dir_};
         sqlite3* db = nullptr;
         ASSERT_EQ(sqlite3_open(LedgerFile().c_str(), &db), SQLITE_OK);
         ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr,
                                nullptr, nullptr),
                   SQLITE_OK);
         sqlite3_close(db);
       },
       true},
      {"a directory", [this] { fs::create_directory(LedgerFile()); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make();
    const std::string before = c.is_file ? ReadFile(LedgerFile()) : "";
    log_.Take();

    const base::utils::Path dump = Dump("a.dmp");
    {
      DeliveryLedger ledger(dir_);
      ASSERT_TRUE(ledger.on());
      EXPECT_FALSE(ledger.Find(dump));
      ledger.RecordAttempt(dump, Info(dump), false);
    }
    // Logged in the normal form of a path ('/' only).
    const std::string lines = log_.Take();
    EXPECT_NE(lines.find("3 tlv::DeliveryLedger::DeliveryLedger: "
                         "DeliveryLedger " +
                         base::utils::Path(LedgerFile()).ToUtf8() +
                         " is not a usable ledger ("),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("); set aside as " +
                         base::utils::Path(SetAsideFile()).ToUtf8() +
                         ", starting afresh\n"),
              std::string::npos)
        << lines;
    if (c.is_file) {
      EXPECT_TRUE(ReadFile(SetAsideFile()) == before);
    } else {
      EXPECT_TRUE(fs::is_directory(SetAsideFile()));
    }
    // The new ledger is a real one.
    EXPECT_EQ(DeliveryLedger(dir_).Find(dump)->failed_runs, 1);
    fs::remove_all(LedgerFile());
    fs::remove_all(SetAsideFile());
  }
}

// A ledger that a player's machine kept from the first version, as that
// version wrote it, is brought up to this one in place: its records stay,
// and its dump gets an id at its next attempt, which the record then keeps.
TEST_F(DeliveryLedgerTest, LedgerOfTheFirstVersionKeepsItsRecords) {
  const base::utils::Path dump = Dump("a.dmp");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(LedgerFile().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db,
                     "CREATE TABLE dumps (key BLOB PRIMARY KEY NOT NULL, path "
                     "BLOB NOT NULL, size INTEGER NOT NULL, last_write INTEGER "
                     "NOT NULL, state INTEGER NOT NULL, content_hash TEXT NOT "
                     "NULL, failed_runs INTEGER NOT NULL, sent_percent INTEGER "
                     "NOT NULL, changed INTEGER NOT NULL);"
                     "CREATE INDEX dumps_by_change ON dumps (changed);"
                     "PRAGMA application_id = 1414288964;"
                     "PRAGMA user_version = 1;",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "INSERT INTO dumps VALUES (?1, ?2, ?3, ?4, 2, "
                                 "'xxh3:0000000000000007', 0, 100, 1)",
                                 -1, &insert, nullptr),
              SQLITE_OK);
    const std::string key = base::utils::PathKey(dump);
    const std::wstring& path = dump.value();
    sqlite3_bind_blob(insert, 1, key.data(), static_cast<int>(key.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 2, path.data(),
                      static_cast<int>(path.size() * sizeof(wchar_t)),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 3, static_cast<int64_t>(Info(dump).size));
    sqlite3_bind_int64(insert, 4, Info(dump).last_write.ticks());
    EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  log_.Take();

  std::string id;
  {
    DeliveryLedger ledger(dir_);
    ASSERT_TRUE(ledger.on());
    const std::optional<DeliveryRecord> record = ledger.Find(dump);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->state, State::kAccepted);
    EXPECT_EQ(record->content_hash, "xxh3:0000000000000007");
    EXPECT_EQ(record->report_id, "");
    id = ledger.RecordAttempt(dump, Info(dump), true);
    EXPECT_EQ(id.size(), 32u);
  }
  DeliveryLedger ledger(dir_);
  EXPECT_EQ(ledger.Find(dump)->report_id, id);
  EXPECT_EQ(ledger.Find(dump)->state, State::kAccepted);
  // And it keeps the services' pauses, one per service.
  EXPECT_FALSE(ledger.PauseEnd("http://a.test/upload"));
  ledger.RecordPause("http://a.test/upload", 7);
  ledger.RecordPause("http://a.test/upload", 42);
  EXPECT_EQ(DeliveryLedger(dir_).PauseEnd("http://a.test/upload"), 42);
  EXPECT_FALSE(fs::exists(SetAsideFile()));
  EXPECT_EQ(log_.Take().find("not a usable ledger"), std::string::npos);
}

// A work directory that cannot hold the ledger: every call does nothing,
// and the run goes on.
TEST_F(DeliveryLedgerTest, LedgerThatCannotBeOpenedIsOff) {
  const base::utils::Path dump = Dump("a.dmp");
  for (const base::utils::Path& dir :
       {base::utils::Path(), dir_.Join(std::string_view("missing"))}) {
    SCOPED_TRACE(dir.ToUtf8());
    DeliveryLedger ledger(dir);
    EXPECT_FALSE(ledger.on());
    // The run draws an id all the same.
    const std::string id = ledger.RecordAttempt(dump, Info(dump), true);
    EXPECT_EQ(id.size(), 32u);
    EXPECT_NE(ledger.RecordAttempt(dump, Info(dump), true), id);
    ledger.RecordAcceptance(dump, Info(dump), ContentHash(1), id);
    EXPECT_FALSE(ledger.Find(dump));
    EXPECT_EQ(ledger.FailedRunsAtOpen(dump), 0);
  }
}

TEST_F(DeliveryLedgerTest, ContentHashIsTheXxh3OfTheBytes) {
  const std::string content = "MDMP" + std::string(200'000, 'x');
  const base::utils::Path dump = Dump("a.dmp", content);
  EXPECT_EQ(ContentHashOfFile(dump),
            ContentHash(XXH3_64bits(content.data(), content.size())));
  EXPECT_EQ(ContentHashOfFile(Dump("empty.dmp", "")),
            ContentHash(XXH3_64bits(nullptr, 0)));
  EXPECT_FALSE(ContentHashOfFile(dir_.Join(std::string_view("none.dmp"))));
}

// One claim per dump at a time, in this process or another; what a claim
// that nobody holds leaves behind is taken over.
TEST_F(DeliveryLedgerTest, ClaimsAreHeldOnePerDump) {
  const base::utils::Path dump = Dump("a.dmp");
  const base::utils::Path other = Dump("b.dmp");
  {
    const DumpClaim first(dir_, dump);
    EXPECT_EQ(first.status(), DumpClaim::Status::kTaken);
    EXPECT_EQ(DumpClaim(dir_, dump).status(),
              DumpClaim::Status::kHeldElsewhere);
    EXPECT_EQ(DumpClaim(dir_, other).status(), DumpClaim::Status::kTaken);
  }
  EXPECT_EQ(DumpClaim(dir_, dump).status(), DumpClaim::Status::kTaken);

  // A killed run's claim: the file without a holder.
  std::vector<fs::path> claims;
  {
    const DumpClaim claim(dir_, dump);
    for (const fs::directory_entry& entry :
         fs::directory_iterator(temp_.path()))
      if (entry.path().extension() == ".claim")
        claims.push_back(entry.path());
  }
  ASSERT_EQ(claims.size(), 1u);
  WriteFile(claims[0].string(), "");
  EXPECT_EQ(DumpClaim(dir_, dump).status(), DumpClaim::Status::kTaken);
  EXPECT_FALSE(fs::exists(claims[0]));

  EXPECT_EQ(DumpClaim(base::utils::Path(), dump).status(),
            DumpClaim::Status::kNoPlace);
  EXPECT_EQ(DumpClaim(dir_.Join(std::string_view("missing")), dump).status(),
            DumpClaim::Status::kNoPlace);
}

}  // namespace
}  // namespace tlv
