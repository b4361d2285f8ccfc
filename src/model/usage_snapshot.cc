#include "model/usage_snapshot.h"

#include <algorithm>
#include <cmath>

namespace brimvale {

std::map<std::string, DayUsage> UsageSnapshot::dayMap() const {
  std::map<std::string, DayUsage> map;
  for (const auto& d : days) map.emplace(d.date, d);
  return map;
}

ProviderKind UsageSnapshot::providerKind() const {
  if (!provider) return ProviderKind::generic;
  return providerKindFromRaw(*provider).value_or(ProviderKind::generic);
}

double UsageSnapshot::maxDayCost() const {
  double best = 0;
  bool any = false;
  for (const auto& d : days) {
    best = any ? std::max(best, d.cost) : d.cost;
    any = true;
  }
  return best;
}

double UsageSnapshot::maxWeekCost() const {
  std::vector<std::pair<Time, double>> list;
  for (const auto& d : days)
    if (auto start = parseDayKey(d.date)) list.emplace_back(*start, d.cost);
  std::stable_sort(list.begin(), list.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  // Seven calendar days end at each day with data; the extra half day absorbs
  // daylight-saving shifts.
  constexpr auto kSpan = std::chrono::seconds(561600);
  double sum = 0, best = 0;
  size_t start = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    sum += list[i].second;
    while (list[i].first - list[start].first > kSpan) {
      sum -= list[start].second;
      ++start;
    }
    best = i == 0 ? sum : std::max(best, sum);
  }
  return best;
}

std::optional<LimitWindow> UsageSnapshot::limitWindow(std::string_view id) const {
  if (!limits) return std::nullopt;
  for (const auto& w : *limits)
    if (w.id == id) return w;
  return std::nullopt;
}

namespace {
bool isActive(const DayUsage& d) { return d.cost > 0 || d.tokens > 0 || d.messages > 0; }
}  // namespace

std::optional<HistoryRange> UsageSnapshot::historyRange() const {
  std::vector<std::string> keys;
  for (const auto& d : days)
    if (isActive(d)) keys.push_back(d.date);
  if (keys.empty()) return std::nullopt;
  auto [lo, hi] = std::minmax_element(keys.begin(), keys.end());
  auto first = parseDayKey(*lo);
  auto last = parseDayKey(*hi);
  if (!first || !last) return std::nullopt;
  return HistoryRange{*lo, *hi, calendarDaysBetween(*first, *last) + 1};
}

int UsageSnapshot::historyWeeks(Time now) const {
  auto range = historyRange();
  if (!range) return 24;
  auto first = parseDayKey(range->first);
  if (!first) return 24;
  int64_t d = calendarDaysBetween(*first, startOfLocalDay(now));
  if (d < 2) d = 1;
  double weeks = std::ceil(static_cast<double>(d + 7) / 7.0);
  return static_cast<int>(std::clamp(weeks, 12.0, 78.0));
}

int64_t UsageSnapshot::activeDayCount() const {
  return std::count_if(days.begin(), days.end(), isActive);
}

double UsageSnapshot::averageDailyCost() const {
  int64_t n = activeDayCount();
  return n == 0 ? 0 : totalCost / static_cast<double>(n);
}

int64_t UsageSnapshot::averageDailyTokens() const {
  int64_t n = activeDayCount();
  return n == 0 ? 0 : totalTokens / n;
}

std::optional<double> UsageSnapshot::fraction(const MetricKind& metric) const {
  switch (metric.kind()) {
    case MetricKind::Case::total:
      return std::nullopt;
    case MetricKind::Case::today: {
      double best = maxDayCost();
      if (best > 0) return todayCost / best;
      return std::nullopt;
    }
    case MetricKind::Case::week: {
      if (auto w = limitWindow("7d")) return w->usedFraction;
      double best = maxWeekCost();
      if (best > 0) return weekCost / best;
      return std::nullopt;
    }
    case MetricKind::Case::session: {
      if (auto w = limitWindow("5h")) return w->usedFraction;
      if (providerKind() == ProviderKind::cursor)
        if (auto w = limitWindow("7d")) return w->usedFraction;
      if (sessionMaxCost && *sessionMaxCost > 0) return sessionCost / *sessionMaxCost;
      return std::nullopt;
    }
    case MetricKind::Case::model: {
      if (totalCost <= 0) return std::nullopt;
      for (const auto& m : models)
        if (m.id == metric.modelId()) return m.cost / totalCost;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

UsageSnapshot UsageSnapshot::placeholder(Time now) {
  UsageSnapshot s;
  s.generatedAt = now;
  s.sessionStart = now - std::chrono::seconds(3600);
  s.sessionEnd = now + std::chrono::seconds(14400);
  s.totalCost = 698.68;
  s.totalTokens = 434490000;
  s.totalMessages = 4444;
  s.todayCost = 12.34;
  s.todayTokens = 8400000;
  s.weekCost = 88.2;
  s.weekTokens = 61000000;
  s.sessionCost = 3.42;
  s.sessionTokens = 2100000;
  s.sessionMaxCost = 8;
  s.sessionMaxTokens = 5000000;
  s.provider = "claude";
  s.models = {{"claude-fable-5", "Fable 5", 518.21, 251930000, 1871},
              {"claude-opus-4-8", "Opus 4.8", 178.77, 174640000, 2402},
              {"claude-sonnet-5", "Sonnet 5", 1.7, 3100000, 36}};
  CivilDate today = localDate(now);
  int64_t todayNumber = daysFromCivil(today);
  for (int i = 179; i >= 0; --i) {
    int v = (11 + 37 * i) % 17;
    double cost = v < 5 ? 0 : v * 1.7;
    s.days.push_back(DayUsage{dayKey(startOfLocalDay(civilFromDays(todayNumber - i))), cost,
                              static_cast<int64_t>(cost * 90000), v});
  }
  return s;
}

// JSON forms ---------------------------------------------------------------

namespace {

using nlohmann::json;

void putTime(json& j, const char* key, Time t) { j[key] = formatISO8601(t); }

Time getTime(const json& j, const char* key) {
  const auto& v = j.at(key);
  auto t = parseISO8601(v.get<std::string>());
  if (!t) throw json::other_error::create(501, std::string("bad time in ") + key, &v);
  return *t;
}

// Optional keys may be missing or null; both read as absent.
const json* optionalMember(const json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return nullptr;
  return &*it;
}

std::optional<Time> getOptionalTime(const json& j, const char* key) {
  if (!optionalMember(j, key)) return std::nullopt;
  return getTime(j, key);
}

template <typename T>
std::optional<T> getOptional(const json& j, const char* key) {
  if (const json* v = optionalMember(j, key)) return v->get<T>();
  return std::nullopt;
}

}  // namespace

void to_json(json& j, const DayUsage& v) {
  j = json{{"date", v.date}, {"cost", v.cost}, {"tokens", v.tokens}, {"messages", v.messages}};
}
void from_json(const json& j, DayUsage& v) {
  v.date = j.at("date").get<std::string>();
  v.cost = j.at("cost").get<double>();
  v.tokens = j.at("tokens").get<int64_t>();
  v.messages = j.at("messages").get<int64_t>();
}

void to_json(json& j, const ModelUsage& v) {
  j = json{{"id", v.id},
           {"name", v.name},
           {"cost", v.cost},
           {"tokens", v.tokens},
           {"messages", v.messages}};
}
void from_json(const json& j, ModelUsage& v) {
  v.id = j.at("id").get<std::string>();
  v.name = j.at("name").get<std::string>();
  v.cost = j.at("cost").get<double>();
  v.tokens = j.at("tokens").get<int64_t>();
  v.messages = j.at("messages").get<int64_t>();
}

void to_json(json& j, const LimitWindow& v) {
  j = json{{"id", v.id}, {"label", v.label}, {"usedFraction", v.usedFraction}};
  if (v.resetsAt) putTime(j, "resetsAt", *v.resetsAt);
  if (v.asOf) putTime(j, "asOf", *v.asOf);
}
void from_json(const json& j, LimitWindow& v) {
  v.id = j.at("id").get<std::string>();
  v.label = j.at("label").get<std::string>();
  v.usedFraction = j.at("usedFraction").get<double>();
  v.resetsAt = getOptionalTime(j, "resetsAt");
  v.asOf = getOptionalTime(j, "asOf");
}

void to_json(json& j, const UsageSnapshot& v) {
  j = json::object();
  putTime(j, "generatedAt", v.generatedAt);
  j["totalCost"] = v.totalCost;
  j["totalTokens"] = v.totalTokens;
  j["totalMessages"] = v.totalMessages;
  j["todayCost"] = v.todayCost;
  j["todayTokens"] = v.todayTokens;
  j["weekCost"] = v.weekCost;
  j["weekTokens"] = v.weekTokens;
  j["sessionCost"] = v.sessionCost;
  j["sessionTokens"] = v.sessionTokens;
  if (v.sessionStart) putTime(j, "sessionStart", *v.sessionStart);
  if (v.sessionEnd) putTime(j, "sessionEnd", *v.sessionEnd);
  if (v.sessionMaxCost) j["sessionMaxCost"] = *v.sessionMaxCost;
  if (v.sessionMaxTokens) j["sessionMaxTokens"] = *v.sessionMaxTokens;
  if (v.provider) j["provider"] = *v.provider;
  if (v.limits) j["limits"] = *v.limits;
  j["models"] = v.models;
  j["days"] = v.days;
}

void from_json(const json& j, UsageSnapshot& v) {
  if (!j.is_object()) throw json::type_error::create(302, "snapshot is not an object", &j);
  v.generatedAt = getTime(j, "generatedAt");
  v.totalCost = j.at("totalCost").get<double>();
  v.totalTokens = j.at("totalTokens").get<int64_t>();
  v.totalMessages = j.at("totalMessages").get<int64_t>();
  v.todayCost = j.at("todayCost").get<double>();
  v.todayTokens = j.at("todayTokens").get<int64_t>();
  v.weekCost = j.at("weekCost").get<double>();
  v.weekTokens = j.at("weekTokens").get<int64_t>();
  v.sessionCost = j.at("sessionCost").get<double>();
  v.sessionTokens = j.at("sessionTokens").get<int64_t>();
  v.sessionStart = getOptionalTime(j, "sessionStart");
  v.sessionEnd = getOptionalTime(j, "sessionEnd");
  v.sessionMaxCost = getOptional<double>(j, "sessionMaxCost");
  v.sessionMaxTokens = getOptional<int64_t>(j, "sessionMaxTokens");
  v.provider = getOptional<std::string>(j, "provider");
  v.limits = getOptional<std::vector<LimitWindow>>(j, "limits");
  v.models = j.at("models").get<std::vector<ModelUsage>>();
  v.days = j.at("days").get<std::vector<DayUsage>>();
}

}  // namespace brimvale
