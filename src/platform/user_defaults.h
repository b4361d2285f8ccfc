#pragma once
// The user-defaults store: one JSON object of keys in a file, read leniently
// (a missing or malformed file is an empty store) and written atomically.

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace brimvale {

class UserDefaults {
 public:
  // The file ~/.config/Brimvale/defaults.json under a home.
  static UserDefaults forHome(const std::string& home);
  explicit UserDefaults(std::string path, bool readOnly = false);

  std::optional<nlohmann::ordered_json> value(const std::string& key) const;
  std::string string(const std::string& key, const std::string& fallback) const;
  bool boolean(const std::string& key, bool fallback) const;
  // Stores and writes the file; false when the write failed (kept in memory).
  bool set(const std::string& key, nlohmann::ordered_json value);

  const std::string& path() const { return path_; }

 private:
  void reload();
  std::string path_;
  bool readOnly_;
  nlohmann::ordered_json values_ = nlohmann::ordered_json::object();
};

}  // namespace brimvale
