#ifndef BASE_DATABASE_DATABASE_H_
#define BASE_DATABASE_DATABASE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/utils/file_path.h"

struct sqlite3;

namespace base {

// The store behind an event reporter, for the events it has not delivered.
//
// It keeps nothing: no database file is created, read or written, and the
// store operations touch no SQLite connection. They report success, zero
// entries and empty selections, so the reporter's queues live in memory only
// and start empty in every run: this short-lived process leaves nothing
// behind for a later run to pick up.
//
// What the object does own is the connection handle type and its correct
// close: a connection member released through Deleter, which reports a
// connection that SQLite refuses to close. Open never opens one, so the
// member stays empty. Used by one reporter at a time; no lock of its own.
class Database {
 public:
  // One stored event, as the store operations exchange it.
  struct Entry {
    std::string id;
    int64_t time = 0;  // microseconds since 1970-01-01 UTC
    std::string text;  // the event text, scrambled
    int32_t status = 0;
  };

  // An open SQLite connection and the file it was opened on.
  struct Connection {
    sqlite3* handle = nullptr;
    utils::Path path;
  };

  // Closes the handle with sqlite3_close and frees the record. A connection
  // that refuses to close (a statement still unfinalised, say) is logged at
  // ERROR as "database is locked" and abandoned: the process goes on.
  struct Deleter {
    void operator()(Connection* connection) const;
  };

  Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  // true; nothing is opened or created at path.
  bool Open(const utils::Path& path);
  // true; entries older than microseconds would go, and there are none.
  bool DeleteBefore(int64_t microseconds);
  // 0.
  int32_t Count() const;
  // Empty.
  std::vector<Entry> Select(int32_t limit,
                            int32_t status,
                            int32_t offset) const;
  // true; nothing is stored.
  bool Insert(std::string_view id,
              int64_t time,
              std::string_view text,
              int32_t status);

 private:
  std::unique_ptr<Connection, Deleter> connection_;
};

}  // namespace base

#endif  // BASE_DATABASE_DATABASE_H_
