#pragma once
// Helpers for tests that build other tools' SQLite databases and check that
// reading them leaves no trace.

#include <openssl/evp.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace brimvale::test {

// An open database that fails the test loudly when a statement fails.
class SQLiteFile {
 public:
  explicit SQLiteFile(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open " + path);
    exec("PRAGMA synchronous=OFF");  // fixtures need no durability; keeps the tests fast
  }
  ~SQLiteFile() { close(); }
  SQLiteFile(const SQLiteFile&) = delete;
  SQLiteFile& operator=(const SQLiteFile&) = delete;
  void exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(sql + ": " + message);
    }
  }
  void close() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
  }
  sqlite3* db() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// Writes a file at an absolute path, creating parents.
inline void writeFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string sqlQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// SHA-256 of a file's bytes in hex; absent when the file does not exist.
inline std::optional<std::string> fileHash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

// Hashes of a database and its companions, to compare before and after a read.
inline std::vector<std::optional<std::string>> databaseHashes(const std::string& path) {
  return {fileHash(path), fileHash(path + "-wal"), fileHash(path + "-shm"),
          fileHash(path + "-journal")};
}

// Points TMPDIR at a fresh folder for the test's lifetime, so the copy folders
// made while it lives can be checked without seeing anybody else's.
class ScopedTempDirectory {
 public:
  ScopedTempDirectory() {
    const char* old = std::getenv("TMPDIR");
    if (old) old_ = old;
    setenv("TMPDIR", dir_.path().c_str(), 1);
  }
  ~ScopedTempDirectory() {
    if (old_) {
      setenv("TMPDIR", old_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  const std::string& path() const { return dir_.path(); }
  // Names in the folder that start with "kestrune-".
  std::vector<std::string> copyFolders() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      std::string name = entry.path().filename().string();
      if (name.rfind("kestrune-", 0) == 0) names.push_back(name);
    }
    return names;
  }
  std::string copyFolder(const std::string& label) const {
    return dir_.path() + "/kestrune-" + label + "-" + std::to_string(getpid());
  }

 private:
  TempDir dir_;
  std::optional<std::string> old_;
};

}  // namespace brimvale::test
