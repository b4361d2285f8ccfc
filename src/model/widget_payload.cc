#include "model/widget_payload.h"

namespace brimvale {

std::optional<UsageSnapshot> WidgetPayload::snapshot(const WidgetConfig& config) const {
  if (config.source == "all") return combined;
  auto it = sources.find(config.source);
  if (it != sources.end()) return it->second;
  return combined;
}

std::optional<std::string> WidgetPayload::name(const WidgetConfig& config) const {
  if (config.source == "all") return std::nullopt;
  auto it = names.find(config.source);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

WidgetConfig WidgetConfigs::config(std::string_view kind) const {
  if (kind == "contribution") return contribution;
  if (kind == "summary") return summary;
  if (kind == "models") return models;
  if (kind == "session") return session;
  return WidgetConfig{};
}

void WidgetConfigs::set(const WidgetConfig& config, std::string_view kind) {
  if (kind == "contribution") contribution = config;
  else if (kind == "summary") summary = config;
  else if (kind == "models") models = config;
  else if (kind == "session") session = config;
}

namespace {

WidgetConfig configFrom(const nlohmann::json& root, const char* key) {
  WidgetConfig c;
  auto it = root.find(key);
  if (it == root.end() || !it->is_object()) return c;
  auto source = it->find("source");
  if (source != it->end() && source->is_string()) c.source = source->get<std::string>();
  auto unit = it->find("unit");
  if (unit != it->end() && unit->is_string()) c.unit = unit->get<std::string>();
  return c;
}

nlohmann::ordered_json configJSON(const WidgetConfig& c) {
  return nlohmann::ordered_json{{"source", c.source}, {"unit", c.unit}};
}

}  // namespace

WidgetConfigs WidgetConfigs::fromJSON(const nlohmann::json& json) {
  WidgetConfigs c;
  if (!json.is_object()) return c;
  c.contribution = configFrom(json, "contribution");
  c.summary = configFrom(json, "summary");
  c.models = configFrom(json, "models");
  c.session = configFrom(json, "session");
  return c;
}

nlohmann::ordered_json WidgetConfigs::toJSON() const {
  return nlohmann::ordered_json{{"contribution", configJSON(contribution)},
                                {"summary", configJSON(summary)},
                                {"models", configJSON(models)},
                                {"session", configJSON(session)}};
}

void to_json(nlohmann::json& j, const WidgetPayload& v) {
  j = nlohmann::json::object();
  if (v.combined) j["combined"] = *v.combined;
  j["sources"] = v.sources;
  j["names"] = v.names;
}

void from_json(const nlohmann::json& j, WidgetPayload& v) {
  if (!j.is_object())
    throw nlohmann::json::type_error::create(302, "payload is not an object", &j);
  auto c = j.find("combined");
  if (c != j.end() && !c->is_null()) v.combined = c->get<UsageSnapshot>();
  else v.combined.reset();
  v.sources = j.at("sources").get<std::map<std::string, UsageSnapshot>>();
  v.names = j.at("names").get<std::map<std::string, std::string>>();
}

}  // namespace brimvale
