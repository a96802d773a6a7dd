#include "base/database/database.h"

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/utils/file_path.h"
#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/process_log.h"
#include "test/scoped_temp_dir.h"

namespace base {
namespace {

TEST(DatabaseTest, KeepsNothingAndLogsNothing) {
  test::ProcessLog log;
  test::ScopedTempDir dir;
  const utils::Path missing = utils::Path(dir.path()).Join("no/such/dir");
  {
    Database database;
    EXPECT_EQ(database.Count(), 0);
    EXPECT_TRUE(database.Select(30, 0, 0).empty());

    EXPECT_TRUE(database.Open(missing));
    EXPECT_TRUE(database.Insert("id", 1'700'000'000'000'000, "text", 0));
    EXPECT_TRUE(database.Insert("id1", 1'700'000'000'000'001, "text", 1));
    EXPECT_TRUE(database.DeleteBefore(0));

    EXPECT_EQ(database.Count(), 0);
    EXPECT_TRUE(database.Select(30, 0, 0).empty());
    EXPECT_TRUE(database.Select(30, 1, 0).empty());
  }
  EXPECT_FALSE(utils::PathExists(missing));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // Destroying a store that never held a connection closes nothing.
  EXPECT_EQ(log.Take(), "");
}

// Deleter on real in-memory connections.
TEST(DatabaseTest, DeleterReportsAConnectionThatRefusesToClose) {
  struct Case {
    const char* name;
    bool keep_statement;  // an unfinalised statement makes close fail
    std::string expected_log;
  };
  const std::vector<Case> cases = {
      {"closable", false, ""},
      {"busy", true,
       "4 base::Database::Deleter::operator(): database is locked\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ProcessLog log;
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &handle), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    if (c.keep_statement) {
      ASSERT_EQ(sqlite3_prepare_v2(handle, "SELECT 1", -1, &statement, nullptr),
                SQLITE_OK);
    }

    Database::Deleter()(
        new Database::Connection{handle, utils::Path(":memory:")});
    EXPECT_EQ(log.Take(), c.expected_log);

    // A refused close leaves the connection usable; release it here so
    // nothing leaks.
    if (statement != nullptr) {
      EXPECT_EQ(sqlite3_finalize(statement), SQLITE_OK);
      EXPECT_EQ(sqlite3_close(handle), SQLITE_OK);
    }
  }
}

}  // namespace
}  // namespace base
