#include "collection/sqlite_copy.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "collection/sqlite_test_util.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

namespace fs = std::filesystem;
using test::SQLiteFile;

int64_t countRows(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
    throw StoreError::sqlite(sqlite3_errmsg(db));
  int64_t n = 0;
  if (sqlite3_step(stmt) == SQLITE_ROW) n = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  return n;
}

class SQLiteCopyTest : public ::testing::Test {
 protected:
  test::ScopedTempDirectory tmp;
  test::TempDir home;
};

TEST_F(SQLiteCopyTest, SeesRowsThatAreOnlyInTheWriteAheadLogOfAnOpenWriter) {
  const std::string path = home / "tool/stats.db";
  SQLiteFile writer(path);
  writer.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
  writer.exec("CREATE TABLE t(x INTEGER);");
  writer.exec("PRAGMA wal_checkpoint(TRUNCATE);");
  writer.exec("INSERT INTO t VALUES (1), (2), (3);");
  ASSERT_GT(fs::file_size(path + "-wal"), 0u);  // the rows live only in the log
  const auto before = test::databaseHashes(path);

  int64_t rows = withSQLiteCopy(path, "test", [](sqlite3* db) {
    return countRows(db, "SELECT count(*) FROM t");
  });

  EXPECT_EQ(rows, 3);
  EXPECT_EQ(test::databaseHashes(path), before);
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(SQLiteCopyTest, CopiesArePrivateAndTheFolderIsOnlyOurs) {
  const std::string path = home / "a.db";
  SQLiteFile(path).exec("CREATE TABLE t(x); INSERT INTO t VALUES (1);");
  mode_t oldMask = ::umask(0);  // a permissive umask must not widen anything
  withSQLiteCopy(path, "modes", [&](sqlite3* db) {
    std::string copy = sqlite3_db_filename(db, "main");
    struct stat st {};
    ASSERT_EQ(::lstat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::lstat(fs::path(copy).parent_path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(fs::path(copy).parent_path().string(), tmp.copyFolder("modes"));
  });
  ::umask(oldMask);
  EXPECT_TRUE(tmp.copyFolders().empty());
}

// Every way a read can end leaves the tool's files as they were and no copy
// folder behind.
TEST_F(SQLiteCopyTest, FailuresLeaveNoFolderAndTheSourceUnchanged) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* expectedMessage;
  };
  const Case cases[] = {
      {"not a database",
       [](const std::string& p) { test::writeFile(p, std::string(4096, 'x')); },
       "file is not a database"},
      {"missing table",
       [](const std::string& p) { SQLiteFile(p).exec("CREATE TABLE other(x);"); },
       "no such table: t"},
      {"failed open", [](const std::string&) {}, "unable to open database file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string path = dir / "x.db";
    c.make(path);
    const auto before = test::databaseHashes(path);
    try {
      withSQLiteCopy(path, "fail", [](sqlite3* db) { return countRows(db, "SELECT count(*) FROM t"); });
      ADD_FAILURE() << "expected a StoreError";
    } catch (const StoreError& e) {
      EXPECT_EQ(std::string(e.what()), c.expectedMessage);
    }
    EXPECT_EQ(test::databaseHashes(path), before);
    EXPECT_TRUE(tmp.copyFolders().empty());
  }
}

TEST_F(SQLiteCopyTest, BodyExceptionsPassThroughAndTheFolderStillGoes) {
  const std::string path = home / "a.db";
  SQLiteFile(path).exec("CREATE TABLE t(x);");
  EXPECT_THROW(withSQLiteCopy(path, "body", [](sqlite3*) { throw std::logic_error("boom"); }),
               std::logic_error);
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(SQLiteCopyTest, AStaleFolderOfOurOwnIsReplaced) {
  const std::string path = home / "a.db";
  SQLiteFile(path).exec("CREATE TABLE t(x); INSERT INTO t VALUES (7);");
  test::writeFile(tmp.copyFolder("stale") + "/a.db", "left over");
  EXPECT_EQ(withSQLiteCopy(path, "stale",
                           [](sqlite3* db) { return countRows(db, "SELECT x FROM t"); }),
            7);
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(SQLiteCopyTest, APlantedSymlinkIsRefusedAndNothingIsWrittenThroughIt) {
  const std::string path = home / "a.db";
  SQLiteFile(path).exec("CREATE TABLE t(x);");
  test::TempDir target;
  ASSERT_EQ(::symlink(target.path().c_str(), tmp.copyFolder("link").c_str()), 0);

  bool ran = false;
  EXPECT_THROW(withSQLiteCopy(path, "link", [&](sqlite3*) { ran = true; }), StoreError);

  EXPECT_FALSE(ran);
  EXPECT_TRUE(fs::is_empty(target.path()));
  EXPECT_TRUE(fs::is_symlink(tmp.copyFolder("link")));  // refused, not removed
  EXPECT_TRUE(fs::is_directory(target.path()));
}

TEST_F(SQLiteCopyTest, AFolderOwnedBySomeoneElseIsRefused) {
  const std::string folder = tmp.copyFolder("foreign");
  ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
  test::writeFile(folder + "/theirs", "x");
  if (::chown(folder.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "needs root to fake an owner";
  EXPECT_THROW(PrivateTempFolder("kestrune-foreign-" + std::to_string(getpid())), StoreError);
  EXPECT_TRUE(fs::exists(folder + "/theirs"));
}

}  // namespace
}  // namespace brimvale
