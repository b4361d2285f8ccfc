#pragma once
// The application's editor of the widget settings: every change is written to
// "widget-config.json" at once. The widget host watches the exchange folder,
// so the write itself is the reload request.

#include <functional>
#include <string>

#include "model/widget_payload.h"

namespace brimvale {

class WidgetSettingsStore {
 public:
  explicit WidgetSettingsStore(std::string home, std::function<void()> onChange = {});

  const WidgetConfigs& configs() const { return configs_; }
  void setConfigs(WidgetConfigs configs);
  void set(const WidgetConfig& config, std::string_view kind);

 private:
  std::string home_;
  std::function<void()> onChange_;
  WidgetConfigs configs_;
};

}  // namespace brimvale
