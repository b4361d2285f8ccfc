#include "collection/aggregation.h"

#include <algorithm>
#include <array>
#include <map>
#include <unordered_map>

#include "model/formatting.h"

namespace brimvale {
namespace {

constexpr auto kBlockLength = std::chrono::seconds(18000);

struct Block {
  Time start;
  double cost = 0;
  int64_t tokens = 0;
  Time last;
};

// Day keys for many events: the local day containing the previous event is
// remembered, so mostly-ordered events cost one comparison each.
class DayKeyCache {
 public:
  const std::string& keyFor(Time t) {
    if (!(valid_ && t >= start_ && t < end_)) {
      CivilDate d = localDate(t);
      key_ = dayKey(t);
      start_ = startOfLocalDay(d);
      end_ = startOfLocalDay(civilFromDays(daysFromCivil(d) + 1));
      // A day whose midnight is skipped by DST starts later than its first
      // instant; fall back to exact lookups there.
      valid_ = start_ <= t && t < end_;
    }
    return key_;
  }

 private:
  bool valid_ = false;
  Time start_{}, end_{};
  std::string key_;
};

std::vector<Block> buildBlocks(const std::vector<UsageEvent>& events) {
  std::vector<const UsageEvent*> sorted;
  sorted.reserve(events.size());
  for (const auto& e : events) sorted.push_back(&e);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const UsageEvent* a, const UsageEvent* b) { return a->ts < b->ts; });

  std::vector<Block> blocks;
  for (const UsageEvent* e : sorted) {
    if (!blocks.empty()) {
      Block& b = blocks.back();
      if (e->ts - b.start < kBlockLength && e->ts - b.last < kBlockLength) {
        b.cost += e->cost;
        b.tokens += e->tokens;
        b.last = e->ts;
        continue;
      }
    }
    blocks.push_back(Block{truncateToLocalHour(e->ts), e->cost, e->tokens, e->ts});
  }
  return blocks;
}

}  // namespace

ProviderKind dominantProvider(const std::vector<UsageEvent>& events) {
  if (events.empty()) return ProviderKind::generic;
  std::array<double, kAllProviderKinds.size()> cost{};
  std::array<int64_t, kAllProviderKinds.size()> count{};
  for (const auto& e : events) {
    auto k = static_cast<size_t>(detectProvider(e.provider, e.model));
    cost[k] += std::max(e.cost, 0.0);
    count[k] += 1;
  }
  // Ties go to the kind declared first.
  size_t best = 0;
  for (size_t k = 1; k < cost.size(); ++k)
    if (cost[k] > cost[best]) best = k;
  if (cost[best] > 0) return kAllProviderKinds[best];
  best = 0;
  for (size_t k = 1; k < count.size(); ++k)
    if (count[k] > count[best]) best = k;
  return kAllProviderKinds[best];
}

UsageSnapshot aggregate(const std::vector<UsageEvent>& events, Time now,
                        const AggregationLimits& limits,
                        std::optional<ProviderKind> preferredProvider) {
  UsageSnapshot s;
  s.generatedAt = now;
  const std::string todayKey = dayKey(now);
  const Time weekStart = startOfLocalDay(civilFromDays(daysFromCivil(localDate(now)) - 6));

  std::map<std::string, DayUsage> days;
  std::unordered_map<std::string, size_t> modelIndex;
  DayKeyCache dayKeys;
  for (const auto& e : events) {
    s.totalTokens += e.tokens;
    s.totalCost += e.cost;
    const std::string& key = dayKeys.keyFor(e.ts);
    auto [it, inserted] = days.try_emplace(key);
    if (inserted) it->second.date = key;
    it->second.cost += e.cost;
    it->second.tokens += e.tokens;
    it->second.messages += 1;
    if (key == todayKey) {
      s.todayCost += e.cost;
      s.todayTokens += e.tokens;
    }
    if (e.ts >= weekStart) {
      s.weekCost += e.cost;
      s.weekTokens += e.tokens;
    }
    auto [mi, newModel] = modelIndex.try_emplace(e.model, s.models.size());
    if (newModel) s.models.push_back(ModelUsage{e.model, prettyModelName(e.model), 0, 0, 0});
    ModelUsage& m = s.models[mi->second];
    m.cost += e.cost;
    m.tokens += e.tokens;
    m.messages += 1;
  }
  s.totalMessages = static_cast<int64_t>(events.size());

  std::vector<Block> blocks = buildBlocks(events);
  size_t earlierCount = blocks.size();
  if (!blocks.empty()) {
    const Block& last = blocks.back();
    if (now < last.start + kBlockLength && now - last.last < kBlockLength) {
      s.sessionStart = last.start;
      s.sessionEnd = last.start + kBlockLength;
      s.sessionCost = last.cost;
      s.sessionTokens = last.tokens;
      earlierCount -= 1;
    }
  }
  double maxCost = 0;
  int64_t maxTokens = 0;
  for (size_t i = 0; i < earlierCount; ++i) {
    maxCost = i == 0 ? blocks[i].cost : std::max(maxCost, blocks[i].cost);
    maxTokens = i == 0 ? blocks[i].tokens : std::max(maxTokens, blocks[i].tokens);
  }
  s.sessionMaxCost = maxCost;
  s.sessionMaxTokens = maxTokens;

  ProviderKind provider = preferredProvider ? *preferredProvider : dominantProvider(events);
  s.provider = std::string(rawValue(provider));
  const std::vector<LimitWindow>* windows = nullptr;
  switch (provider) {
    case ProviderKind::claude: windows = &limits.claude; break;
    case ProviderKind::gpt: windows = &limits.gpt; break;
    case ProviderKind::grok: windows = &limits.grok; break;
    case ProviderKind::cursor: windows = &limits.cursor; break;
    case ProviderKind::gemini:
    case ProviderKind::generic: break;
  }
  if (windows && !windows->empty()) s.limits = *windows;

  std::stable_sort(s.models.begin(), s.models.end(),
                   [](const ModelUsage& a, const ModelUsage& b) { return a.cost > b.cost; });
  s.days.reserve(days.size());
  for (auto& [key, day] : days) s.days.push_back(std::move(day));
  return s;
}

}  // namespace brimvale
