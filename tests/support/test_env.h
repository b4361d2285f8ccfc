#pragma once
// Shared helpers for tests: pinned time zones and temporary homes.

#include <string>

namespace brimvale::test {

// Sets TZ for the rest of the process (and tzset()).
void setTimeZone(const char* zone);

// Pins TZ for one scope and puts back the process default (Europe/Berlin)
// afterwards, also when an assertion returns early.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) { setTimeZone(zone); }
  ~ScopedTimeZone() { setTimeZone("Europe/Berlin"); }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;
};

// A fresh folder under the system temporary directory, removed (recursively)
// when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
  // Writes a file below the folder, creating parents.
  std::string write(const std::string& relative, const std::string& content) const;

 private:
  std::string path_;
};

}  // namespace brimvale::test
