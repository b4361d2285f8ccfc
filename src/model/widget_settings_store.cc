#include "model/widget_settings_store.h"

#include "model/snapshot_io.h"

namespace brimvale {

WidgetSettingsStore::WidgetSettingsStore(std::string home, std::function<void()> onChange)
    : home_(std::move(home)),
      onChange_(std::move(onChange)),
      configs_(SnapshotIO::loadWidgetConfigs(home_)) {}

void WidgetSettingsStore::setConfigs(WidgetConfigs configs) {
  configs_ = std::move(configs);
  SnapshotIO::saveWidgetConfigs(home_, configs_);
  if (onChange_) onChange_();
}

void WidgetSettingsStore::set(const WidgetConfig& config, std::string_view kind) {
  WidgetConfigs next = configs_;
  next.set(config, kind);
  setConfigs(std::move(next));
}

}  // namespace brimvale
