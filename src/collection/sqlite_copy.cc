#include "collection/sqlite_copy.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/atomic_file.h"

namespace brimvale {
namespace {

namespace fs = std::filesystem;

std::string errnoText(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
  int fd = -1;
  explicit FileDescriptor(int value) : fd(value) {}
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
};

// Copies source into a new file `name` inside the folder open as dirFd, with
// mode 0600. The target must not exist yet and is never a followed link. A copy
// that fails half way is removed again, so the folder holds only whole copies.
void copyInto(const std::string& source, int dirFd, const std::string& name) {
  FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return;
  struct stat st {};
  if (::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  FileDescriptor out(
      ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.fd < 0) return;
  bool ok = ::fchmod(out.fd, 0600) == 0;  // the umask may have narrowed it further
  char buffer[1 << 16];
  while (ok) {
    ssize_t n = ::read(in.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
    } else if (n == 0) {
      break;
    } else {
      ok = writeAll(out.fd, std::string_view(buffer, static_cast<size_t>(n)));
    }
  }
  if (!ok) ::unlinkat(dirFd, name.c_str(), 0);
}

}  // namespace

PrivateTempFolder::PrivateTempFolder(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    throw StoreError::sqlite("invalid temporary folder name: " + name);
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) throw StoreError::sqlite("temporary directory: " + ec.message());
  std::string path = (base / name).string();

  // Whatever is at the path now: a stale folder (or file) of our own goes; a
  // link or anything owned by someone else is refused and left untouched.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode))
      throw StoreError::sqlite(path + ": refusing a symbolic link in place of the copy folder");
    if (st.st_uid != ::geteuid())
      throw StoreError::sqlite(path + ": refusing a folder owned by another user");
    fs::remove_all(path, ec);  // never follows links inside; a failure shows in mkdir
  } else if (errno != ENOENT) {
    throw StoreError::sqlite(errnoText(path, errno));
  }

  // mkdir never follows a link; anything that appeared in between makes it fail.
  if (::mkdir(path.c_str(), 0700) != 0) throw StoreError::sqlite(errnoText(path, errno));
  path_ = path;

  // Make sure what we opened is the folder we made, and that no umask loosened
  // or narrowed its mode.
  FileDescriptor dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.fd < 0 || ::fstat(dir.fd, &st) != 0 || st.st_uid != ::geteuid() ||
      ::fchmod(dir.fd, 0700) != 0) {
    int error = errno;
    fs::remove_all(path_, ec);
    throw StoreError::sqlite(errnoText(path, error));
  }
}

PrivateTempFolder::~PrivateTempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void withSQLiteCopyRun(const std::string& path, const std::string& label,
                       const std::function<void(sqlite3*)>& body) {
  PrivateTempFolder folder("kestrune-" + label + "-" + std::to_string(::getpid()));
  const std::string base = fs::path(path).filename().string();
  {
    FileDescriptor dir(
        ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0) throw StoreError::sqlite(errnoText(folder.path(), errno));
    if (!base.empty()) {
      for (const char* suffix : {"", "-wal", "-shm"}) {
        copyInto(path + suffix, dir.fd, base + suffix);
      }
    }
  }

  const std::string copy = folder.path() + "/" + base;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                           nullptr);
  if (rc != SQLITE_OK || db == nullptr) {
    std::string message = db ? sqlite3_errmsg(db) : "open failed";
    sqlite3_close_v2(db);
    throw StoreError::sqlite(message);
  }
  // Closed before the folder goes, also when body throws.
  struct Connection {
    sqlite3* db;
    ~Connection() { sqlite3_close_v2(db); }
  } connection{db};
  body(db);
}

SQLiteStatement::~SQLiteStatement() { sqlite3_finalize(stmt); }

std::optional<std::string> optionalColumnText(sqlite3_stmt* stmt, int column) {
  if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return std::nullopt;
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (!text) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

std::string columnText(sqlite3_stmt* stmt, int column) {
  return optionalColumnText(stmt, column).value_or(std::string());
}

}  // namespace brimvale
