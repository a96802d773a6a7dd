#include "crash_plugin/report_process/delivery_ledger.h"

#include <mbedtls/md.h>
#include <sqlite3.h>
#include <xxhash.h>

#include <array>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "base/logging/logging.h"
#include "base/utils/file.h"
#include "base/utils/string_util.h"

namespace tlv {
namespace {

// "TLVD": tells this ledger from any other SQLite file under its name.
constexpr int32_t kApplicationId = 0x544C5644;

// The ledger as its first version made it. A new file gets it too, and then
// every step of kMigrations, so that every ledger, new or kept from an
// earlier version, ends up with one and the same schema. `changed` orders
// the records by their last change, for the bound: a counter rather than a
// clock, which a player may set back.
constexpr char kFirstSchema[] =
    "CREATE TABLE dumps ("
    "key BLOB PRIMARY KEY NOT NULL, "
    "path BLOB NOT NULL, "
    "size INTEGER NOT NULL, "
    "last_write INTEGER NOT NULL, "
    "state INTEGER NOT NULL, "
    "content_hash TEXT NOT NULL, "
    "failed_runs INTEGER NOT NULL, "
    "sent_percent INTEGER NOT NULL, "
    "changed INTEGER NOT NULL);"
    "CREATE INDEX dumps_by_change ON dumps (changed);"
    "PRAGMA application_id = 1414288964;"
    "PRAGMA user_version = 1;";
static_assert(kApplicationId == 1414288964);

// Step i takes a ledger of version i + 1 to version i + 2. Ledgers of every
// earlier version are on players' machines and keep their records: a step
// only adds.
constexpr const char* kMigrations[] = {
    // The id that every report of the dump carries; empty until its next
    // attempt draws one.
    "ALTER TABLE dumps ADD COLUMN report_id BLOB NOT NULL DEFAULT '';",
    // The services' pauses (ServicePauses): when each ends, in base::Time
    // ticks of the system clock. One row per service, replaced by the next
    // pause of the same service.
    "CREATE TABLE pauses (service BLOB PRIMARY KEY NOT NULL, "
    "end_time INTEGER NOT NULL);",
};
constexpr int64_t kSchemaVersion = 1 + std::size(kMigrations);

constexpr char kNextChange[] =
    "(SELECT IFNULL(MAX(changed), 0) + 1 FROM dumps)";

// File bytes read at a time while hashing.
constexpr size_t kHashReadSize = 65536;

// One prepared statement. A failure at any step sticks: later steps do
// nothing, and result() tells the first failure.
class Statement final {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    result_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(statement_); }

  Statement& Bind(int index, int64_t value) {
    if (result_ == SQLITE_OK)
      result_ = sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& Bind(int index, std::string_view bytes) {
    if (result_ == SQLITE_OK) {
      result_ = sqlite3_bind_blob64(statement_, index, bytes.data(),
                                    bytes.size(), SQLITE_TRANSIENT);
    }
    return *this;
  }

  // Steps to the next row: false at the end and on a failure.
  bool NextRow() {
    if (result_ == SQLITE_OK || result_ == SQLITE_ROW)
      result_ = sqlite3_step(statement_);
    return result_ == SQLITE_ROW;
  }
  // Runs a statement that yields no rows: true once it is done.
  bool Run() {
    NextRow();
    return result_ == SQLITE_DONE;
  }
  bool failed() const {
    return result_ != SQLITE_OK && result_ != SQLITE_ROW &&
           result_ != SQLITE_DONE;
  }
  int result() const { return result_; }

  int64_t Int(int column) const {
    return sqlite3_column_int64(statement_, column);
  }
  std::string Bytes(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    return data ? std::string(static_cast<const char*>(data),
                              static_cast<size_t>(size))
                : std::string();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int result_;
};

// The dump's path as stored: the wide text's own bytes, which give the path
// back exactly, whatever bytes a POSIX name holds.
std::string_view PathBytes(const base::utils::Path& path) {
  return std::string_view(reinterpret_cast<const char*>(path.value().data()),
                          path.value().size() * sizeof(wchar_t));
}

base::utils::Path PathFromBytes(const std::string& bytes) {
  std::wstring wide(bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(wchar_t));
  return base::utils::Path(wide);
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xf]);
  }
  return text;
}

// The claim's file name: half of the SHA-256 of the path's key, so that
// every spelling that names the same path shares one claim.
std::wstring ClaimName(const base::utils::Path& dump) {
  const std::string key = base::utils::PathKey(dump);
  std::array<unsigned char, 32> digest{};
  mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256),
             reinterpret_cast<const unsigned char*>(key.data()), key.size(),
             digest.data());
  return base::utils::Utf8ToWide(Hex(digest.data(), 16) + ".claim");
}

// Moves file out of the way, to set_aside, with the journal and the
// write-ahead log that SQLite keeps beside it: left behind, they would be
// played into the new ledger of the same name.
bool SetAside(const base::utils::Path& file,
              const base::utils::Path& set_aside) {
  for (const wchar_t* suffix : {L"", L"-journal", L"-wal", L"-shm"}) {
    const base::utils::Path from = file.Append(suffix);
    if ((*suffix == L'\0' || base::utils::PathExists(from)) &&
        !base::utils::RenameFile(from, set_aside.Append(suffix))) {
      return false;
    }
  }
  return true;
}

// Runs one statement without a result; false, with SQLite's message in why,
// when it fails.
bool Exec(sqlite3* db, const char* sql, std::string& why) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
    return true;
  why = sqlite3_errmsg(db);
  return false;
}

// Brings a ledger of an earlier version up to kSchemaVersion, inside a
// writing transaction, since another run may be doing the same at this
// moment. False, with SQLite's message in why, when a step fails: then
// nothing has changed.
bool Migrate(sqlite3* db, std::string& why) {
  if (!Exec(db, "BEGIN IMMEDIATE", why))
    return false;
  int64_t version;
  {
    Statement again(db, "PRAGMA user_version");
    if (!again.NextRow()) {
      why = sqlite3_errmsg(db);
      Exec(db, "ROLLBACK", why);
      return false;
    }
    version = again.Int(0);
  }
  // Brought up to date meanwhile, or beyond by a later program's run.
  if (version >= kSchemaVersion) {
    Exec(db, "COMMIT", why);
    if (version > kSchemaVersion)
      why = "version " + std::to_string(version);
    return version == kSchemaVersion;
  }
  bool ok = true;
  for (int64_t step = version - 1; ok && step < kSchemaVersion - 1; ++step)
    ok = Exec(db, kMigrations[step], why);
  ok = ok &&
       Exec(db,
            ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str(),
            why) &&
       Exec(db, "COMMIT", why);
  if (!ok) {
    std::string ignored;
    Exec(db, "ROLLBACK", ignored);
  }
  return ok;
}

// Whether db holds this ledger, giving a new, empty file the schema and an
// earlier version's file the steps it lacks. A file that another run holds
// for longer than the busy time-out is unusable for now; one that SQLite
// cannot read, whose tables are another program's, or whose version this
// program does not know (a later one's) is no ledger.
DeliveryLedger::OpenResult CheckLedger(sqlite3* db, std::string& why) {
  using OpenResult = DeliveryLedger::OpenResult;
  const auto read_failure = [&why, db](const Statement& statement) {
    why = sqlite3_errmsg(db);
    return statement.result() == SQLITE_BUSY ||
                   statement.result() == SQLITE_LOCKED
               ? OpenResult::kUnusable
               : OpenResult::kNotALedger;
  };
  int64_t application_id;
  {
    Statement application(db, "PRAGMA application_id");
    if (!application.NextRow())
      return read_failure(application);
    application_id = application.Int(0);
  }
  if (application_id == 0) {
    // Another run may be giving the new file its schema at this moment:
    // look again inside a writing transaction.
    if (!Exec(db, "BEGIN IMMEDIATE", why))
      return OpenResult::kUnusable;
    std::optional<OpenResult> found;
    {
      Statement again(db, "PRAGMA application_id");
      Statement tables(db, "SELECT COUNT(*) FROM sqlite_schema");
      if (!again.NextRow()) {
        found = read_failure(again);
      } else if (again.Int(0) == kApplicationId) {
        found = OpenResult::kOpen;
      } else if (!tables.NextRow()) {
        found = read_failure(tables);
      } else if (tables.Int(0) != 0) {
        why = "a database of another program";
        found = OpenResult::kNotALedger;
      }
    }
    if (!found && !Exec(db, kFirstSchema, why))
      found = OpenResult::kUnusable;
    if (found && *found != OpenResult::kOpen) {
      Exec(db, "ROLLBACK", why);
      return *found;
    }
    if (!Exec(db, "COMMIT", why))
      return OpenResult::kUnusable;
  } else if (application_id != kApplicationId) {
    why = "a database of another program";
    return OpenResult::kNotALedger;
  }
  int64_t version;
  {
    Statement read(db, "PRAGMA user_version");
    if (!read.NextRow())
      return read_failure(read);
    version = read.Int(0);
  }
  if (version < 1 || version > kSchemaVersion) {
    why = "version " + std::to_string(version);
    return OpenResult::kNotALedger;
  }
  // Damage that the reads above did not touch, a file cut short say.
  {
    Statement check(db, "PRAGMA quick_check");
    if (!check.NextRow())
      return read_failure(check);
    if (check.Bytes(0) != "ok") {
      why = check.Bytes(0);
      return OpenResult::kNotALedger;
    }
  }
  if (version < kSchemaVersion && !Migrate(db, why))
    return OpenResult::kUnusable;
  return OpenResult::kOpen;
}

}  // namespace

bool DeliveryRecord::Describes(const base::utils::FileInfo& info) const {
  return size == info.size && last_write == info.last_write.ticks();
}

// A record of an earlier version holds another kind of hash ("crc32:..."),
// which equals no hash of this kind: its dump reads as changed, which costs
// at most one more upload of a dump that the service already has.
std::string ContentHash(uint64_t xxh3) {
  return base::utils::StringPrintf("xxh3:%016llx",
                                   static_cast<unsigned long long>(xxh3));
}

std::optional<std::string> ContentHashOfFile(const base::utils::Path& path) {
  base::utils::File file(path, base::utils::kReadBinary);
  if (!file.IsOpen())
    return std::nullopt;
  std::vector<unsigned char> buffer(kHashReadSize);
  const std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> hash(
      XXH3_createState(), &XXH3_freeState);
  if (!hash || XXH3_64bits_reset(hash.get()) != XXH_OK)
    return std::nullopt;
  for (;;) {
    const int64_t got = file.Read(buffer.data(), buffer.size());
    if (got > 0 && XXH3_64bits_update(hash.get(), buffer.data(),
                                      static_cast<size_t>(got)) != XXH_OK) {
      return std::nullopt;
    }
    if (got < static_cast<int64_t>(buffer.size())) {
      if (!file.AtEnd())
        return std::nullopt;
      break;
    }
  }
  return ContentHash(XXH3_64bits_digest(hash.get()));
}

DeliveryLedger::DeliveryLedger(const base::utils::Path& dir, int32_t capacity)
    : capacity_(capacity) {
  if (dir.empty())
    return;
  const base::utils::Path file = dir.Join(std::string_view(kFileName));
  std::string why;
  OpenResult opened = Open_(file, why);
  if (opened == OpenResult::kNotALedger) {
    const base::utils::Path set_aside =
        dir.Join(std::string_view(kSetAsideName));
    const bool moved = SetAside(file, set_aside);
    TLV_LOG(base::logging::kWarn,
            "DeliveryLedger {} is not a usable ledger ({}); {}", file.ToUtf8(),
            why,
            moved ? "set aside as " + set_aside.ToUtf8() + ", starting afresh"
                  : std::string("it cannot be set aside"));
    opened = moved ? Open_(file, why) : OpenResult::kUnusable;
  }
  if (opened != OpenResult::kOpen) {
    TLV_LOG(base::logging::kError,
            "DeliveryLedger {} cannot be used ({}); this run sends every "
            "dump without it",
            file.ToUtf8(), why);
    return;
  }
  Prune();
  if (!db_)
    return;
  Statement failed(db_,
                   "SELECT key, failed_runs FROM dumps "
                   "WHERE state != 2 AND failed_runs > 0");
  while (failed.NextRow())
    failed_runs_at_open_[failed.Bytes(0)] = static_cast<int32_t>(failed.Int(1));
  if (failed.failed())
    SwitchOff_("SELECT");
}

DeliveryLedger::~DeliveryLedger() {
  sqlite3_close_v2(db_);
}

DeliveryLedger::OpenResult DeliveryLedger::Open_(const base::utils::Path& file,
                                                 std::string& why) {
  sqlite3* db = nullptr;
  const int result =
      sqlite3_open_v2(base::utils::NarrowPath(file).c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  // Something that SQLite cannot even open (a directory, say) is in the
  // way all the same; where there is nothing, the directory cannot hold
  // the ledger (or SQLite cannot name it: it takes no path over 512 bytes).
  OpenResult opened = OpenResult::kNotALedger;
  if (result != SQLITE_OK) {
    why = db ? sqlite3_errmsg(db) : sqlite3_errstr(result);
    if (!base::utils::PathExists(file))
      opened = OpenResult::kUnusable;
  } else {
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    opened = CheckLedger(db, why);
  }
  if (opened != OpenResult::kOpen) {
    sqlite3_close_v2(db);
    return opened;
  }
  // The write-ahead log makes a change one append without waiting for the
  // disk, and is as safe as the journal when a process is killed; with
  // synchronous NORMAL a power cut may lose the last changes but never
  // damages the file. A file system that cannot have it keeps the journal.
  sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
  db_ = db;
  return OpenResult::kOpen;
}

void DeliveryLedger::SwitchOff_(const char* call) {
  TLV_LOG(base::logging::kError,
          "DeliveryLedger {} failed: {}; this run goes on without the ledger",
          call, sqlite3_errmsg(db_));
  sqlite3_close_v2(db_);
  db_ = nullptr;
  failed_runs_at_open_.clear();
}

std::optional<DeliveryRecord> DeliveryLedger::Find(
    const base::utils::Path& dump) {
  if (!db_)
    return std::nullopt;
  Statement select(db_,
                   "SELECT state, size, last_write, content_hash, "
                   "failed_runs, sent_percent, report_id FROM dumps "
                   "WHERE key = ?1");
  select.Bind(1, base::utils::PathKey(dump));
  if (!select.NextRow()) {
    if (select.failed())
      SwitchOff_("SELECT");
    return std::nullopt;
  }
  DeliveryRecord record;
  record.state = static_cast<DeliveryRecord::State>(select.Int(0));
  record.size = static_cast<uint64_t>(select.Int(1));
  record.last_write = select.Int(2);
  record.content_hash = select.Bytes(3);
  record.failed_runs = static_cast<int32_t>(select.Int(4));
  record.sent_percent = static_cast<int32_t>(select.Int(5));
  record.report_id = select.Bytes(6);
  return record;
}

int32_t DeliveryLedger::FailedRunsAtOpen(const base::utils::Path& dump) const {
  const auto found = failed_runs_at_open_.find(base::utils::PathKey(dump));
  return found == failed_runs_at_open_.end() ? 0 : found->second;
}

std::string DeliveryLedger::RecordAttempt(const base::utils::Path& dump,
                                          const base::utils::FileInfo& info,
                                          bool same_dump) {
  std::string report_id = base::utils::RandomString();
  if (!db_)
    return report_id;
  // The same dump keeps its id and counts one more run; an acceptance of it
  // stays what it is, whatever becomes of this attempt. A record of an
  // earlier version has no id yet and gets this one.
  if (same_dump) {
    Statement update(
        db_, std::string("UPDATE dumps SET "
                         "failed_runs = CASE WHEN state = 2 THEN failed_runs "
                         "ELSE failed_runs + 1 END, "
                         "sent_percent = CASE WHEN state = 2 THEN sent_percent "
                         "ELSE 0 END, "
                         "state = CASE WHEN state = 2 THEN 2 ELSE 0 END, "
                         "report_id = CASE WHEN report_id = '' THEN ?2 "
                         "ELSE report_id END, "
                         "changed = ") +
                 kNextChange + " WHERE key = ?1 RETURNING report_id");
    update.Bind(1, base::utils::PathKey(dump)).Bind(2, report_id);
    if (update.NextRow())
      return update.Bytes(0);
    if (update.failed()) {
      SwitchOff_("UPDATE");
      return report_id;
    }
  }
  // Another dump under the name, or none before, starts afresh.
  Statement upsert(
      db_,
      std::string("INSERT INTO dumps (key, path, size, last_write, state, "
                  "content_hash, failed_runs, sent_percent, changed, "
                  "report_id) VALUES (?1, ?2, ?3, ?4, 0, '', 1, 0, ") +
          kNextChange +
          ", ?5) ON CONFLICT (key) DO UPDATE SET "
          "path = excluded.path, size = excluded.size, "
          "last_write = excluded.last_write, state = 0, content_hash = '', "
          "failed_runs = 1, sent_percent = 0, changed = excluded.changed, "
          "report_id = excluded.report_id");
  upsert.Bind(1, base::utils::PathKey(dump))
      .Bind(2, PathBytes(dump))
      .Bind(3, static_cast<int64_t>(info.size))
      .Bind(4, info.last_write.ticks())
      .Bind(5, report_id);
  if (!upsert.Run())
    SwitchOff_("INSERT");
  return report_id;
}

void DeliveryLedger::RecordProgress(const base::utils::Path& dump,
                                    int32_t percent) {
  UpdatePercent_(
      "UPDATE dumps SET sent_percent = ?2 WHERE key = ?1 AND state = 0", dump,
      percent);
}

void DeliveryLedger::RecordFailure(const base::utils::Path& dump,
                                   int32_t percent) {
  UpdatePercent_(std::string("UPDATE dumps SET state = 1, sent_percent = ?2, "
                             "changed = ") +
                     kNextChange + " WHERE key = ?1 AND state != 2",
                 dump, percent);
}

void DeliveryLedger::UpdatePercent_(const std::string& sql,
                                    const base::utils::Path& dump,
                                    int32_t percent) {
  if (!db_)
    return;
  Statement update(db_, sql);
  update.Bind(1, base::utils::PathKey(dump)).Bind(2, percent);
  if (!update.Run())
    SwitchOff_("UPDATE");
}

void DeliveryLedger::RecordAcceptance(const base::utils::Path& dump,
                                      const base::utils::FileInfo& info,
                                      const std::string& content_hash,
                                      const std::string& report_id) {
  if (!db_)
    return;
  Statement upsert(
      db_, std::string("INSERT INTO dumps (key, path, size, last_write, "
                       "state, content_hash, failed_runs, sent_percent, "
                       "changed, report_id) VALUES (?1, ?2, ?3, ?4, 2, ?5, "
                       "0, 100, ") +
               kNextChange +
               ", ?6) ON CONFLICT (key) DO UPDATE SET path = excluded.path, "
               "size = excluded.size, last_write = excluded.last_write, "
               "state = 2, content_hash = excluded.content_hash, "
               "failed_runs = 0, sent_percent = 100, "
               "changed = excluded.changed, report_id = excluded.report_id");
  upsert.Bind(1, base::utils::PathKey(dump))
      .Bind(2, PathBytes(dump))
      .Bind(3, static_cast<int64_t>(info.size))
      .Bind(4, info.last_write.ticks())
      .Bind(5, content_hash)
      .Bind(6, report_id);
  if (!upsert.Run())
    SwitchOff_("INSERT");
}

std::optional<int64_t> DeliveryLedger::PauseEnd(const std::string& service) {
  if (!db_)
    return std::nullopt;
  Statement select(db_, "SELECT end_time FROM pauses WHERE service = ?1");
  select.Bind(1, service);
  if (!select.NextRow()) {
    if (select.failed())
      SwitchOff_("SELECT");
    return std::nullopt;
  }
  return select.Int(0);
}

void DeliveryLedger::RecordPause(const std::string& service, int64_t end) {
  if (!db_)
    return;
  Statement upsert(db_,
                   "INSERT INTO pauses VALUES (?1, ?2) ON CONFLICT (service) "
                   "DO UPDATE SET end_time = excluded.end_time");
  upsert.Bind(1, service).Bind(2, end);
  if (!upsert.Run())
    SwitchOff_("INSERT");
}

void DeliveryLedger::Prune() {
  if (!db_)
    return;
  std::vector<std::string> gone;
  {
    Statement all(db_, "SELECT key, path FROM dumps");
    while (all.NextRow()) {
      if (!base::utils::PathExists(PathFromBytes(all.Bytes(1))))
        gone.push_back(all.Bytes(0));
    }
    if (all.failed())
      return SwitchOff_("SELECT");
  }
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    return SwitchOff_("BEGIN");
  }
  bool ok = true;
  for (const std::string& key : gone) {
    Statement remove(db_, "DELETE FROM dumps WHERE key = ?1");
    ok = ok && remove.Bind(1, key).Run();
  }
  // Beyond the bound, the records changed longest ago go first.
  Statement bound(db_,
                  "DELETE FROM dumps WHERE changed <= (SELECT changed FROM "
                  "dumps ORDER BY changed DESC LIMIT 1 OFFSET ?1)");
  ok = ok && bound.Bind(1, int64_t{capacity_}).Run();
  if (!ok ||
      sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    SwitchOff_("DELETE");
  }
}

DumpClaim::DumpClaim(const base::utils::Path& dir,
                     const base::utils::Path& dump) {
  if (dir.empty())
    return;
  const base::utils::Path file = dir.Join(ClaimName(dump));
  // A claim file that cannot be created and is not there means a work
  // directory that holds no claims; one that is there and cannot be removed
  // is a live run's. A claim that a killed run left is anybody's to remove,
  // and then to take; a few rounds settle races with other runs doing the
  // same.
  for (int round = 0; round < 3; ++round) {
    held_ = base::utils::HeldFile::Create(file);
    if (held_) {
      status_ = Status::kTaken;
      return;
    }
    if (base::utils::PathExists(file) && !base::utils::RemoveUnheldFile(file)) {
      status_ = Status::kHeldElsewhere;
      return;
    }
  }
}

DumpClaim::~DumpClaim() = default;

}  // namespace tlv
