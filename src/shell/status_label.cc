#include "shell/status_label.h"

#include "model/formatting.h"
#include "shared_views/qt_color.h"

namespace brimvale {

std::optional<LimitWindow> quotaWindow(const MetricKind& metric, const UsageSnapshot* snapshot) {
  if (!snapshot) return std::nullopt;
  switch (metric.kind()) {
    case MetricKind::Case::week:
      return snapshot->limitWindow("7d");
    case MetricKind::Case::session:
      if (auto w = snapshot->limitWindow("5h")) return w;
      if (snapshot->providerKind() == ProviderKind::cursor) return snapshot->limitWindow("7d");
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::string tooltipText(const std::string& name, const MetricKind& metric,
                        const UsageSnapshot* snapshot, Time now) {
  std::string text = name + " — " + metric.title(snapshot);
  if (snapshot) {
    if (auto f = snapshot->fraction(metric)) text += " " + fmtPercent(*f);
  }
  if (auto w = quotaWindow(metric, snapshot); w && w->resetsAt && *w->resetsAt > now)
    text += " · " + fmtRemaining(*w->resetsAt, now) + " 후 초기화";
  return text;
}

StatusLabel statusLabel(const AIConnection* connection, const UsageSnapshot* snapshot, Time now,
                        const PhotoLoader& loadPhoto) {
  StatusLabel label;
  label.icon.size = 18;
  if (!connection) {
    label.icon.style = IconStyle::app;
    label.icon.provider = ProviderKind::generic;
    label.icon.color = MenuBarGlyph::defaultColor();
    label.tooltip = std::string(kPlaceholderTooltip);
    return label;
  }
  ProviderKind provider = snapshot ? snapshot->providerKind() : ProviderKind::generic;
  if (provider == ProviderKind::generic) provider = fallbackProviderKind(connection->source);
  const MetricKind metric = connection->metric();

  label.icon.style = connection->icon();
  label.icon.provider = provider;
  label.icon.fraction = snapshot ? snapshot->fraction(metric) : std::nullopt;
  label.icon.color = toQColor(connection->color());
  if (label.icon.style == IconStyle::photo && loadPhoto) label.icon.image = loadPhoto(connection->id);
  label.tooltip = tooltipText(connection->name, metric, snapshot, now);
  return label;
}

}  // namespace brimvale
