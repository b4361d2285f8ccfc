#include "platform/user_defaults.h"

#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace brimvale {

UserDefaults UserDefaults::forHome(const std::string& home) {
  return UserDefaults(paths::defaultsFile(home));
}

UserDefaults::UserDefaults(std::string path, bool readOnly)
    : path_(std::move(path)), readOnly_(readOnly) {
  reload();
}

void UserDefaults::reload() {
  values_ = nlohmann::ordered_json::object();
  auto bytes = readWholeFile(path_);
  if (!bytes) return;
  auto parsed = nlohmann::ordered_json::parse(*bytes, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_object()) values_ = std::move(parsed);
}

std::optional<nlohmann::ordered_json> UserDefaults::value(const std::string& key) const {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return *it;
}

std::string UserDefaults::string(const std::string& key, const std::string& fallback) const {
  auto v = value(key);
  return v && v->is_string() ? v->get<std::string>() : fallback;
}

bool UserDefaults::boolean(const std::string& key, bool fallback) const {
  auto v = value(key);
  return v && v->is_boolean() ? v->get<bool>() : fallback;
}

bool UserDefaults::set(const std::string& key, nlohmann::ordered_json value) {
  values_[key] = std::move(value);
  if (readOnly_) return true;
  auto folder = std::filesystem::path(path_).parent_path().string();
  if (createDirectories(folder)) return false;
  return !writeFileAtomically(path_, values_.dump(2) + "\n", 0600);
}

}  // namespace brimvale
