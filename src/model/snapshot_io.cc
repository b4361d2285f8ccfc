#include "model/snapshot_io.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace brimvale {
namespace {

constexpr const char* kSnapshotFile = "snapshot.json";
constexpr const char* kPayloadFile = "widget-data.json";
constexpr const char* kConfigFile = "widget-config.json";

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::optional<std::string> writeInFolder(const std::string& home, const char* file,
                                         const std::string& bytes, bool folderMustExist) {
  std::string folder = SnapshotIO::directory(home);
  if (auto err = createDirectories(folder); err && folderMustExist) return err;
  return writeFileAtomically(folder + "/" + file, bytes);
}

template <typename T>
std::optional<T> readJSON(const std::string& home, const char* file) {
  auto bytes = readWholeFile(SnapshotIO::directory(home) + "/" + file);
  if (!bytes) return std::nullopt;
  try {
    return nlohmann::json::parse(*bytes).get<T>();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::string SnapshotIO::realHome() { return paths::realHome(); }

std::string SnapshotIO::directory(const std::string& home) {
  const std::string current = paths::exchangeFolder(home);
  if (exists(current)) return current;
  const std::string legacy = paths::legacyExchangeFolder(home);
  if (exists(legacy)) {
    std::rename(legacy.c_str(), current.c_str());  // failure is harmless
    return exists(current) ? current : legacy;
  }
  return current;
}

std::string SnapshotIO::encodeSnapshot(const UsageSnapshot& snapshot) {
  return nlohmann::json(snapshot).dump();
}

std::string SnapshotIO::encodePayload(const WidgetPayload& payload) {
  return nlohmann::json(payload).dump();
}

std::optional<std::string> SnapshotIO::save(const std::string& home,
                                            const UsageSnapshot& snapshot) {
  return writeInFolder(home, kSnapshotFile, encodeSnapshot(snapshot), true);
}

std::optional<std::string> SnapshotIO::savePayload(const std::string& home,
                                                   const WidgetPayload& payload) {
  return writeInFolder(home, kPayloadFile, encodePayload(payload), true);
}

std::optional<std::string> SnapshotIO::saveWidgetConfigs(const std::string& home,
                                                         const WidgetConfigs& configs) {
  return writeInFolder(home, kConfigFile, configs.toJSON().dump(), false);
}

std::optional<UsageSnapshot> SnapshotIO::load(const std::string& home) {
  return readJSON<UsageSnapshot>(home, kSnapshotFile);
}

std::optional<WidgetPayload> SnapshotIO::loadPayload(const std::string& home) {
  return readJSON<WidgetPayload>(home, kPayloadFile);
}

WidgetConfigs SnapshotIO::loadWidgetConfigs(const std::string& home) {
  auto bytes = readWholeFile(directory(home) + "/" + kConfigFile);
  if (!bytes) return {};
  return WidgetConfigs::fromJSON(nlohmann::json::parse(*bytes, nullptr, false));
}

}  // namespace brimvale
