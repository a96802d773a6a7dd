#ifndef CRASH_PLUGIN_REPORT_PROCESS_DELIVERY_LEDGER_H_
#define CRASH_PLUGIN_REPORT_PROCESS_DELIVERY_LEDGER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "base/utils/file_path.h"
#include "base/utils/file_util.h"
#include "base/utils/held_file.h"
#include "report/service_pauses.h"

struct sqlite3;

namespace tlv {

// What the ledger knows of one dump, by its path.
struct DeliveryRecord {
  enum class State : int32_t {
    // An attempt began and has not ended. Seen by a later run, the run
    // that began it was ended while it sent.
    kSending = 0,
    // The last attempt ended without an acceptance.
    kFailed = 1,
    // The service accepted the dump described by size, last_write and
    // content_hash.
    kAccepted = 2,
  };

  State state = State::kSending;
  // The dump as it was when the record was made.
  uint64_t size = 0;
  int64_t last_write = 0;  // base::Time ticks
  // ContentHash of the bytes the service accepted; empty before that.
  std::string content_hash;
  // Runs in a row whose attempt did not end in an acceptance, an attempt
  // still going on included.
  int32_t failed_runs = 0;
  // How far the last attempt got: the largest share of the request body, in
  // percent, that the transport had taken.
  int32_t sent_percent = 0;
  // The message id and ReportId that every report of the dump carries, so
  // that the service can tell a resend from a new crash; empty in a record
  // of an earlier version until the dump's next attempt.
  std::string report_id;

  // Whether info describes the dump of this record: same size, same
  // modification time.
  bool Describes(const base::utils::FileInfo& info) const;
};

// The identity of a dump's content as the ledger keeps it: "xxh3:" and
// sixteen lowercase hex digits of the XXH3 (64 bits) of its bytes.
std::string ContentHash(uint64_t xxh3);
// ContentHash of the file's bytes as they are now; none when it cannot be
// read whole.
std::optional<std::string> ContentHashOfFile(const base::utils::Path& path);

// The process's memory of its uploads across runs: a SQLite database in the
// work directory (delivery.db) with one record per dump path. It keeps a
// dump that the service accepted from being sent again when it could not be
// deleted, and lets dumps that keep failing go after the others.
//
// Every change is one statement, committed at once to SQLite's write-ahead
// log (delivery.db-wal and -shm beside the file while it is open), so a run
// that is killed at any moment leaves the last complete change behind; two
// runs share the file through SQLite's locks, waiting for each other at
// most kBusyTimeoutMs. Nothing here can cost a dump: a record is only ever
// trusted together with the dump's content (see ContentHash), and a ledger
// that cannot be used is switched off, so the run sends every dump as if
// there were none (the worst case is one more upload).
//
// A file under the ledger's name that is not this ledger, or that SQLite
// finds damaged, is renamed to delivery.db.bad (replacing an older one),
// logged, and a new ledger is started. Two runs that find a damaged ledger
// at the same moment may each start one; the records lost then cost at most
// one more upload.
//
// The ledger stays small: opening it drops the records of dumps that are
// gone, then all but the capacity (kCapacity) most recently changed; a run
// adds at most one record per dump it tries. Used by one thread at a time.
//
// Ledgers of earlier versions are brought up to this one in place, keeping
// their records; a file of a version this program does not know is set
// aside like any other file that is not a ledger.
//
// It also keeps the services' pauses across runs (ServicePauses::Store).
class DeliveryLedger final : public ServicePauses::Store {
 public:
  static constexpr char kFileName[] = "delivery.db";
  static constexpr char kSetAsideName[] = "delivery.db.bad";
  static constexpr int32_t kCapacity = 4096;
  static constexpr int kBusyTimeoutMs = 2000;

  // Opens or creates the ledger in dir, checks it and prunes it to
  // capacity records. An empty dir, or one that cannot hold the ledger,
  // gives a ledger that is off.
  explicit DeliveryLedger(const base::utils::Path& dir,
                          int32_t capacity = kCapacity);
  DeliveryLedger(const DeliveryLedger&) = delete;
  DeliveryLedger& operator=(const DeliveryLedger&) = delete;
  ~DeliveryLedger() override;

  // False once the ledger is off: every Record call then does nothing and
  // Find finds nothing.
  bool on() const { return db_ != nullptr; }

  std::optional<DeliveryRecord> Find(const base::utils::Path& dump);

  // failed_runs of the dump's record as it was when the ledger was opened;
  // 0 without one. Orders a scan without a query per dump.
  int32_t FailedRunsAtOpen(const base::utils::Path& dump) const;

  // An attempt on the dump that info describes begins, before anything of
  // it is sent. same_dump tells whether the dump's record (Find) is of this
  // very dump: the same size and modification time and, once accepted, the
  // same content. Then the record keeps its report id, becomes kSending
  // unless it is kAccepted, and failed_runs counts this run; otherwise a new
  // record starts the count afresh under a new id. Returns the id that the
  // attempt's report carries: a new one (32 characters from the system's
  // random source) when the ledger is off.
  std::string RecordAttempt(const base::utils::Path& dump,
                            const base::utils::FileInfo& info,
                            bool same_dump);
  // The attempt under way got to percent of its body.
  void RecordProgress(const base::utils::Path& dump, int32_t percent);
  // The attempt ended without an acceptance, having got to percent.
  void RecordFailure(const base::utils::Path& dump, int32_t percent);
  // The service accepted the dump that info describes, whose content has
  // content_hash, under report_id. failed_runs goes back to 0.
  void RecordAcceptance(const base::utils::Path& dump,
                        const base::utils::FileInfo& info,
                        const std::string& content_hash,
                        const std::string& report_id);

  // ServicePauses::Store: the end of service's last pause, in base::Time
  // ticks, and a new one that replaces it.
  std::optional<int64_t> PauseEnd(const std::string& service) override;
  void RecordPause(const std::string& service, int64_t end) override;

  // Drops the records of dumps that are gone, then all but the capacity
  // most recently changed ones. The constructor calls it.
  void Prune();

  enum class OpenResult { kOpen, kNotALedger, kUnusable };

 private:
  // Opens file into db_ and checks that it is this ledger, creating the
  // schema in a new file. why tells what was wrong otherwise, and db_ stays
  // null.
  OpenResult Open_(const base::utils::Path& file, std::string& why);
  // Runs sql, an update of the dump's record that binds its key as ?1 and
  // percent as ?2.
  void UpdatePercent_(const std::string& sql,
                      const base::utils::Path& dump,
                      int32_t percent);
  // Logs the failed call with SQLite's message and closes the ledger for
  // the rest of the run.
  void SwitchOff_(const char* call);

  const int32_t capacity_;
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, int32_t> failed_runs_at_open_;
};

// This run's right to report one dump, from before the dump's event until
// the dump is done with. Two runs that scan the same directory, or a scan
// and a run for one dump, never send the same dump at the same time.
//
// The claim is a HeldFile in the work directory named after the dump's path
// (a hash of base::utils::PathKey, then ".claim"), so the operating system
// drops it with the process however that ends, and the next run removes
// what is left. Nothing is ever written beside the dump.
class DumpClaim final {
 public:
  enum class Status {
    kTaken,          // this run holds the claim
    kHeldElsewhere,  // another live run holds it: skip the dump
    kNoPlace,        // the work directory cannot hold claims: go on
  };

  // The pattern of claim file names, for the removal of leftovers.
  static constexpr wchar_t kNamePattern[] = L"^[0-9a-f]{32}\\.claim$";

  DumpClaim(const base::utils::Path& dir, const base::utils::Path& dump);
  DumpClaim(const DumpClaim&) = delete;
  DumpClaim& operator=(const DumpClaim&) = delete;
  ~DumpClaim();

  Status status() const { return status_; }

 private:
  Status status_ = Status::kNoPlace;
  std::unique_ptr<base::utils::HeldFile> held_;
};

}  // namespace tlv

#endif  // CRASH_PLUGIN_REPORT_PROCESS_DELIVERY_LEDGER_H_
