#pragma once
// What one tray icon shows for a connection and its latest snapshot: the
// filled picture's inputs and the tooltip text.

#include <functional>
#include <optional>
#include <string>

#include <QImage>

#include "connections/ai_connection.h"
#include "model/time_util.h"
#include "model/usage_snapshot.h"
#include "shell/filled_menu_bar_icon.h"

namespace brimvale {

inline constexpr std::string_view kPlaceholderTooltip = "Brimvale — 클릭해서 AI를 연결하세요";

// The limit window behind a metric, for the reset time: "7d" for week, "5h" for
// session (Cursor's "7d" billing period when there is no "5h"), else none.
std::optional<LimitWindow> quotaWindow(const MetricKind& metric, const UsageSnapshot* snapshot);

// "<name> — <metric title>[ <percent>][ · <remaining> 후 초기화]".
std::string tooltipText(const std::string& name, const MetricKind& metric,
                        const UsageSnapshot* snapshot, Time now);

struct StatusLabel {
  FilledMenuBarIcon icon;  // size 18
  std::string tooltip;
};

using PhotoLoader = std::function<std::optional<QImage>(const std::string& id)>;

// The label of a connection (or of the placeholder when connection is null).
StatusLabel statusLabel(const AIConnection* connection, const UsageSnapshot* snapshot, Time now,
                        const PhotoLoader& loadPhoto);

}  // namespace brimvale
