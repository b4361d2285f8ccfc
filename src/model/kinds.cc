#include "model/kinds.h"

#include <algorithm>
#include <cctype>

#include "model/formatting.h"
#include "model/usage_snapshot.h"

namespace brimvale {

std::string_view rawValue(ProviderKind kind) {
  switch (kind) {
    case ProviderKind::claude: return "claude";
    case ProviderKind::gpt: return "gpt";
    case ProviderKind::gemini: return "gemini";
    case ProviderKind::cursor: return "cursor";
    case ProviderKind::grok: return "grok";
    case ProviderKind::generic: return "generic";
  }
  return "generic";
}

std::optional<ProviderKind> providerKindFromRaw(std::string_view raw) {
  for (ProviderKind k : kAllProviderKinds)
    if (rawValue(k) == raw) return k;
  return std::nullopt;
}

namespace {
std::string lowerASCII(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}
bool contains(const std::string& s, std::string_view part) {
  return s.find(part) != std::string::npos;
}
}  // namespace

ProviderKind detectProvider(std::string_view providerText, std::string_view modelText) {
  const std::string p = lowerASCII(providerText);
  const std::string m = lowerASCII(modelText);
  if (contains(p, "cursor") || contains(m, "composer") || contains(m, "cursor"))
    return ProviderKind::cursor;
  if (contains(p, "xai") || contains(p, "x-ai") || contains(p, "grok") || contains(m, "grok"))
    return ProviderKind::grok;
  if (contains(p, "anthropic") || contains(p, "claude") || contains(m, "claude"))
    return ProviderKind::claude;
  if (contains(p, "google") || contains(p, "gemini") || contains(m, "gemini"))
    return ProviderKind::gemini;
  if (contains(p, "openai") || contains(p, "gpt") || contains(p, "codex") ||
      m.starts_with("gpt") || m.starts_with("o1") || m.starts_with("o3") ||
      m.starts_with("o4") || contains(m, "codex"))
    return ProviderKind::gpt;
  return ProviderKind::generic;
}

RGBColor brandColor(ProviderKind kind) {
  switch (kind) {
    case ProviderKind::claude: return {0.85, 0.47, 0.34, 1};
    case ProviderKind::gpt: return {0.06, 0.64, 0.50, 1};
    case ProviderKind::gemini: return {0.35, 0.49, 0.95, 1};
    case ProviderKind::cursor: return {0.42, 0.47, 0.60, 1};
    case ProviderKind::grok: return {0.58, 0.58, 0.62, 1};
    case ProviderKind::generic: return kAccentColor;
  }
  return kAccentColor;
}

std::string_view rawValue(UnitKind unit) {
  switch (unit) {
    case UnitKind::percent: return "percent";
    case UnitKind::cost: return "cost";
    case UnitKind::tokens: return "tokens";
  }
  return "percent";
}

std::optional<UnitKind> unitKindFromRaw(std::string_view raw) {
  for (UnitKind u : kAllUnitKinds)
    if (rawValue(u) == raw) return u;
  return std::nullopt;
}

std::string_view title(UnitKind unit) {
  switch (unit) {
    case UnitKind::percent: return "사용률(%)";
    case UnitKind::cost: return "비용($)";
    case UnitKind::tokens: return "토큰";
  }
  return "";
}

MetricKind MetricKind::from(std::string_view key) {
  if (key.starts_with("model:")) return model(std::string(key.substr(6)));
  if (key == "total") return total();
  if (key == "today") return today();
  if (key == "week") return week();
  return session();
}

std::string MetricKind::key() const {
  switch (case_) {
    case Case::model: return "model:" + modelId_;
    case Case::total: return "total";
    case Case::today: return "today";
    case Case::week: return "week";
    case Case::session: return "session";
  }
  return "session";
}

std::string MetricKind::modelName(const UsageSnapshot* snapshot) const {
  if (snapshot)
    for (const auto& m : snapshot->models)
      if (m.id == modelId_) return m.name;
  return modelId_;
}

std::string MetricKind::title(const UsageSnapshot* snapshot) const {
  switch (case_) {
    case Case::model: return modelName(snapshot) + " 사용량";
    case Case::total: return "전체 사용량";
    case Case::today: return "오늘 사용량";
    case Case::week: return "주간 사용량";
    case Case::session: return "세션 사용량";
  }
  return "";
}

std::string MetricKind::shortPrefix(const UsageSnapshot* snapshot) const {
  switch (case_) {
    case Case::model: {
      std::string name = modelName(snapshot);
      return name.substr(0, name.find(' '));
    }
    case Case::total: return "전체";
    case Case::today: return "오늘";
    case Case::week: return "주간";
    case Case::session: return "세션";
  }
  return "";
}

std::string MetricKind::value(const UsageSnapshot* snapshot, UnitKind unit) const {
  static const std::string kDash = "\u2014";
  if (!snapshot) return kDash;
  if (unit == UnitKind::percent) {
    auto f = snapshot->fraction(*this);
    return f ? formatString("%.0f%%", *f * 100) : kDash;
  }
  double cost = 0;
  int64_t tokens = 0;
  switch (case_) {
    case Case::total: cost = snapshot->totalCost; tokens = snapshot->totalTokens; break;
    case Case::today: cost = snapshot->todayCost; tokens = snapshot->todayTokens; break;
    case Case::week: cost = snapshot->weekCost; tokens = snapshot->weekTokens; break;
    case Case::session: cost = snapshot->sessionCost; tokens = snapshot->sessionTokens; break;
    case Case::model:
      for (const auto& m : snapshot->models)
        if (m.id == modelId_) {
          cost = m.cost;
          tokens = m.tokens;
          break;
        }
      break;
  }
  return unit == UnitKind::cost ? fmtCost(cost) : fmtTokens(tokens);
}

}  // namespace brimvale
