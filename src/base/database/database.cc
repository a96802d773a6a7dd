#include "base/database/database.h"

#include <sqlite3.h>

#include "base/logging/logging.h"

namespace base {

void Database::Deleter::operator()(Connection* connection) const {
  if (sqlite3_close(connection->handle) != SQLITE_OK) {
    TLV_LOG(logging::kError, "database is locked");
  }
  delete connection;
}

Database::Database() = default;

Database::~Database() = default;

bool Database::Open(const utils::Path&) {
  return true;
}

bool Database::DeleteBefore(int64_t) {
  return true;
}

int32_t Database::Count() const {
  return 0;
}

std::vector<Database::Entry> Database::Select(int32_t, int32_t, int32_t) const {
  return {};
}

bool Database::Insert(std::string_view, int64_t, std::string_view, int32_t) {
  return true;
}

}  // namespace base
