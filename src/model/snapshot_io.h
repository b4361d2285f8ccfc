#pragma once
// The exchange folder shared with the widget host: locating it, and writing
// and reading "snapshot.json", "widget-data.json" and "widget-config.json".
// Writes are atomic, so a reader sees either the old or the new file.

#include <optional>
#include <string>

#include "model/usage_snapshot.h"
#include "model/widget_payload.h"

namespace brimvale {

class SnapshotIO {
 public:
  // The home recorded in the user database (not $HOME when that differs).
  static std::string realHome();

  // The folder under home; migrates the legacy folder when only it exists.
  static std::string directory(const std::string& home);

  // Return an error text on failure.
  static std::optional<std::string> save(const std::string& home, const UsageSnapshot& snapshot);
  static std::optional<std::string> savePayload(const std::string& home,
                                                const WidgetPayload& payload);
  static std::optional<std::string> saveWidgetConfigs(const std::string& home,
                                                      const WidgetConfigs& configs);

  // Absent on any failure (missing, truncated, malformed, missing key).
  static std::optional<UsageSnapshot> load(const std::string& home);
  static std::optional<WidgetPayload> loadPayload(const std::string& home);
  // Never fails: missing parts take their defaults.
  static WidgetConfigs loadWidgetConfigs(const std::string& home);

  // The encodings the files use (sorted keys, ISO 8601 times).
  static std::string encodeSnapshot(const UsageSnapshot& snapshot);
  static std::string encodePayload(const WidgetPayload& payload);
};

}  // namespace brimvale
