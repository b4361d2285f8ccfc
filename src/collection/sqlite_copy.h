#pragma once
// Opening another tool's SQLite database without touching it: the database
// and its "-wal"/"-shm" companions are copied into a private temporary folder
// and the copy is opened. The tool's own files are never opened or locked.

#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "collection/store_error.h"

struct sqlite3;
struct sqlite3_stmt;

namespace brimvale {

// A folder named `name` in the system temporary directory, created afresh
// with mode 0700. A pre-existing symlink or a folder owned by another user at
// that path is refused (StoreError), never followed. Removed with its content
// when the object goes away.
class PrivateTempFolder {
 public:
  explicit PrivateTempFolder(const std::string& name);  // throws StoreError
  ~PrivateTempFolder();
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Copies path, path-wal and path-shm (those that exist) into a private folder
// "kestrune-" + label + "-" + pid, with mode 0600, and returns the open copy's
// connection to body. The connection is always closed and the folder always
// removed. Throws StoreError when the folder or the open fails; body's own
// exceptions pass through.
void withSQLiteCopyRun(const std::string& path, const std::string& label,
                       const std::function<void(sqlite3*)>& body);

template <typename Body>
auto withSQLiteCopy(const std::string& path, const std::string& label, Body&& body)
    -> std::invoke_result_t<Body&, sqlite3*> {
  using Result = std::invoke_result_t<Body&, sqlite3*>;
  if constexpr (std::is_void_v<Result>) {
    withSQLiteCopyRun(path, label, [&](sqlite3* db) { body(db); });
  } else {
    std::optional<Result> result;
    withSQLiteCopyRun(path, label, [&](sqlite3* db) { result.emplace(body(db)); });
    return std::move(*result);
  }
}

// A prepared statement on the copy, finalized when it goes out of scope.
struct SQLiteStatement {
  sqlite3_stmt* stmt = nullptr;
  SQLiteStatement() = default;
  SQLiteStatement(const SQLiteStatement&) = delete;
  SQLiteStatement& operator=(const SQLiteStatement&) = delete;
  ~SQLiteStatement();
};

// The text of a result column of the current row, all its bytes (also NULs).
// A NULL column gives nothing from the first and an empty text from the second.
std::optional<std::string> optionalColumnText(sqlite3_stmt* stmt, int column);
std::string columnText(sqlite3_stmt* stmt, int column);

}  // namespace brimvale
