#include "connections/ai_connection.h"

#include <openssl/rand.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/paths.h"

namespace brimvale {
namespace {

struct SourceInfo {
  SourceKind kind;
  const char* raw;
  const char* defaultName;
  const char* detail;
  ProviderKind fallback;
  const char* group;
  const char* label;
  double usd;
};

constexpr SourceInfo kSources[] = {
    {SourceKind::claudeCode, "claudeCode", "Claude Code", "~/.claude/projects",
     ProviderKind::claude, "claude", "Claude Max", 200},
    {SourceKind::gjc, "gjc", "GJC", "~/.gjc/stats.db", ProviderKind::generic, "claude",
     "Claude Max", 200},
    {SourceKind::codex, "codex", "Codex CLI", "~/.codex/sessions", ProviderKind::gpt, "codex",
     "ChatGPT Pro", 200},
    {SourceKind::gemini, "gemini", "Gemini CLI", "~/.gemini/tmp", ProviderKind::gemini, "gemini",
     "Google AI Pro", 20},
    {SourceKind::cursor, "cursor", "Cursor", "~/.cursor + Cursor IDE", ProviderKind::cursor,
     "cursor", "Cursor Pro", 20},
    {SourceKind::grok, "grok", "Grok", "~/.grok", ProviderKind::grok, "grok", "SuperGrok Heavy",
     300},
};

const SourceInfo& info(SourceKind kind) { return kSources[static_cast<size_t>(kind)]; }

bool pathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

struct IconInfo {
  IconStyle style;
  const char* raw;
  const char* title;
};
constexpr IconInfo kIcons[] = {
    {IconStyle::app, "app", "앱 아이콘"},
    {IconStyle::automatic, "auto", "자동 (프로바이더 감지)"},
    {IconStyle::claude, "claude", "Claude"},
    {IconStyle::gpt, "gpt", "GPT"},
    {IconStyle::gemini, "gemini", "Gemini"},
    {IconStyle::cursor, "cursor", "Cursor"},
    {IconStyle::grok, "grok", "Grok"},
    {IconStyle::chart, "chart", "차트"},
    {IconStyle::photo, "photo", "사진"},
};

}  // namespace

std::string_view rawValue(SourceKind source) { return info(source).raw; }

std::optional<SourceKind> sourceKindFromRaw(std::string_view raw) {
  for (const auto& s : kSources)
    if (raw == s.raw) return s.kind;
  return std::nullopt;
}

std::string_view defaultName(SourceKind source) { return info(source).defaultName; }
std::string_view detail(SourceKind source) { return info(source).detail; }
ProviderKind fallbackProviderKind(SourceKind source) { return info(source).fallback; }
std::string_view subscriptionGroup(SourceKind source) { return info(source).group; }
std::string_view subscriptionLabel(SourceKind source) { return info(source).label; }
double subscriptionUSD(SourceKind source) { return info(source).usd; }

std::string_view defaultMetricKey(SourceKind source) {
  return source == SourceKind::cursor || source == SourceKind::grok ? "week" : "session";
}

bool isAvailable(SourceKind source, const std::string& home) {
  switch (source) {
    case SourceKind::claudeCode: return pathExists(home + "/.claude/projects");
    case SourceKind::gjc: return pathExists(home + "/.gjc/stats.db");
    case SourceKind::codex: return pathExists(home + "/.codex/sessions");
    case SourceKind::gemini: return pathExists(home + "/.gemini/tmp");
    case SourceKind::cursor:
      return pathExists(home + "/.cursor/projects") || pathExists(paths::cursorStateDB(home));
    case SourceKind::grok:
      return pathExists(home + "/.grok/grok.db") || pathExists(home + "/.grok/sessions");
  }
  return false;
}

std::vector<Subscription> uniqueSubscriptions(const std::vector<SourceKind>& sources) {
  std::vector<Subscription> out;
  std::vector<std::string_view> seen;
  for (SourceKind s : sources) {
    std::string_view group = subscriptionGroup(s);
    bool known = false;
    for (auto g : seen) known = known || g == group;
    if (known) continue;
    seen.push_back(group);
    out.push_back({std::string(subscriptionLabel(s)), subscriptionUSD(s)});
  }
  return out;
}

std::string_view rawValue(IconStyle style) { return kIcons[static_cast<size_t>(style)].raw; }

std::optional<IconStyle> iconStyleFromRaw(std::string_view raw) {
  for (const auto& i : kIcons)
    if (raw == i.raw) return i.style;
  return std::nullopt;
}

std::string_view title(IconStyle style) { return kIcons[static_cast<size_t>(style)].title; }

RGBColor AIConnection::color() const { return hex(colorHex); }

nlohmann::ordered_json toJSON(const AIConnection& c) {
  return nlohmann::ordered_json{{"id", c.id},
                                {"source", std::string(rawValue(c.source))},
                                {"name", c.name},
                                {"colorHex", c.colorHex},
                                {"metricKey", c.metricKey},
                                {"iconKey", c.iconKey}};
}

AIConnection connectionFromJSON(const nlohmann::ordered_json& j) {
  AIConnection c;
  c.id = j.at("id").get<std::string>();
  auto source = sourceKindFromRaw(j.at("source").get<std::string>());
  if (!source) throw nlohmann::ordered_json::other_error::create(501, "unknown source", &j);
  c.source = *source;
  c.name = j.at("name").get<std::string>();
  c.colorHex = j.at("colorHex").get<std::string>();
  c.metricKey = j.at("metricKey").get<std::string>();
  auto icon = j.find("iconKey");
  c.iconKey = icon != j.end() && icon->is_string() ? icon->get<std::string>() : "app";
  return c;
}

RGBColor hex(std::string_view text) {
  auto isSpace = [](char ch) { return std::isspace(static_cast<unsigned char>(ch)) != 0; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  if (text.size() != 6) return kMintColor;
  // Like the platform scanner: an optional "0x", then as many hex digits as
  // there are; it fails only when no digit is found.
  std::string_view digits = text;
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.remove_prefix(2);
  uint64_t value = 0;
  size_t n = 0;
  while (n < digits.size() && std::isxdigit(static_cast<unsigned char>(digits[n]))) {
    char ch = digits[n];
    int d = ch <= '9' ? ch - '0' : (std::tolower(static_cast<unsigned char>(ch)) - 'a' + 10);
    value = value * 16 + static_cast<uint64_t>(d);
    ++n;
  }
  if (n == 0) return kMintColor;
  return RGBColor{static_cast<double>((value >> 16) & 0xFF) / 255.0,
                  static_cast<double>((value >> 8) & 0xFF) / 255.0,
                  static_cast<double>(value & 0xFF) / 255.0, 1.0};
}

std::string hexRGB(RGBColor color) {
  auto channel = [](double v) {
    long n = std::lround(v * 255.0);
    return static_cast<int>(std::clamp(n, 0L, 255L));
  };
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X", channel(color.red), channel(color.green),
                channel(color.blue));
  return buf;
}

std::string makeUUID() {
  unsigned char b[16];
  if (RAND_bytes(b, sizeof b) != 1) {
    for (auto& x : b) x = static_cast<unsigned char>(std::rand());
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  char out[37];
  std::snprintf(out, sizeof out,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return out;
}

}  // namespace brimvale
