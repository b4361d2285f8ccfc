#include "model/formatting.h"

#include <charconv>
#include <cstdio>
#include <vector>

#include <utf8proc.h>

namespace brimvale {

std::string formatString(const char* pattern, double value) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, pattern, value);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), pattern, value);
  big.resize(static_cast<size_t>(n));
  return big;
}

std::string fmtCost(double x) {
  if (x >= 10000) return formatString("$%.1fk", x / 1000);
  if (x >= 1000) return formatString("$%.2fk", x / 1000);
  if (x >= 100) return formatString("$%.0f", x);
  if (x >= 10) return formatString("$%.1f", x);
  return formatString("$%.2f", x);
}

std::string fmtTokens(int64_t n) {
  double d = static_cast<double>(n);
  if (n >= 1000000000) return formatString("%.2fB", d / 1e9);
  if (n >= 1000000) return formatString("%.1fM", d / 1e6);
  if (n >= 1000) return formatString("%.1fK", d / 1000);
  return std::to_string(n);
}

std::string fmtPercent(double f) { return formatString("%.0f%%", f * 100); }

std::string fmtDayKey(std::string_view key) {
  if (!parseDayKey(key)) return std::string(key);
  // The key itself is the local calendar date; "yyyy. M. d" drops leading zeros.
  int y = 0, m = 0, d = 0;
  std::from_chars(key.data(), key.data() + 4, y);
  std::from_chars(key.data() + 5, key.data() + 7, m);
  std::from_chars(key.data() + 8, key.data() + 10, d);
  return std::to_string(y) + ". " + std::to_string(m) + ". " + std::to_string(d);
}

namespace {
int64_t wholeMinutes(Time from, Time to) {
  return std::chrono::duration_cast<std::chrono::seconds>(to - from).count() / 60;
}
}  // namespace

std::string fmtRemaining(Time t, Time now) {
  int64_t m = wholeMinutes(now, t);
  if (m < 0) return "0분";
  if (m >= 1440) return std::to_string(m / 1440) + "일 " + std::to_string(m % 1440 / 60) + "시간";
  if (m < 60) return std::to_string(m) + "분";
  return std::to_string(m / 60) + "시간 " + std::to_string(m % 60) + "분";
}

std::string fmtAgo(Time t, Time now) {
  int64_t m = wholeMinutes(t, now);
  if (m < 1) return "방금";
  if (m <= 59) return std::to_string(m) + "분 전";
  if (m >= 1440) return std::to_string(m / 1440) + "일 전";
  return std::to_string(m / 60) + "시간 전";
}

namespace {

std::vector<std::string> splitNonEmpty(std::string_view s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(sep, start);
    if (end == std::string_view::npos) end = s.size();
    if (end > start) parts.emplace_back(s.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Decodes the first code point; len is its byte length (0 for an empty or
// undecodable text).
utf8proc_int32_t firstCodePoint(std::string_view s, utf8proc_ssize_t& len) {
  utf8proc_int32_t cp = -1;
  len = s.empty() ? 0
                  : utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
                                     static_cast<utf8proc_ssize_t>(s.size()), &cp);
  if (len <= 0) len = 0;
  return cp;
}

std::string upperFirst(std::string_view s) {
  utf8proc_ssize_t len;
  utf8proc_int32_t cp = firstCodePoint(s, len);
  if (len == 0) return std::string(s);
  utf8proc_uint8_t buf[4];
  utf8proc_ssize_t n = utf8proc_encode_char(utf8proc_toupper(cp), buf);
  return std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n)) +
         std::string(s.substr(static_cast<size_t>(len)));
}

bool startsWithNumeric(std::string_view s) {
  utf8proc_ssize_t len;
  utf8proc_int32_t cp = firstCodePoint(s, len);
  if (len == 0) return false;
  auto cat = utf8proc_category(cp);
  return cat == UTF8PROC_CATEGORY_ND || cat == UTF8PROC_CATEGORY_NL ||
         cat == UTF8PROC_CATEGORY_NO;
}

bool isDecimalInteger(std::string_view s) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;
  }
  if (s.empty()) return false;
  int64_t v;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && ptr == s.data() + s.size();
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    out += parts[i];
  }
  return out;
}

}  // namespace

std::string prettyModelName(std::string_view id) {
  std::vector<std::string> parts = splitNonEmpty(id, '-');
  if (parts.empty()) return std::string(id);

  if (lower(parts[0]) == "claude") {
    if (parts.size() == 1) return std::string(id);
    std::string name = upperFirst(parts[1]);
    std::vector<std::string> version;
    for (size_t i = 2; i < parts.size(); ++i)
      if (isDecimalInteger(parts[i])) version.push_back(parts[i]);
    return version.empty() ? name : name + " " + join(version, ".");
  }

  static const char* const kDropped[] = {"preview", "latest", "exp", "001", "002"};
  std::vector<std::string> kept;
  for (const auto& p : parts) {
    std::string l = lower(p);
    bool drop = false;
    for (const char* d : kDropped) drop = drop || l == d;
    if (!drop) kept.push_back(p);
  }
  if (kept.empty()) kept = parts;
  for (auto& p : kept) {
    if (lower(p) == "gpt") p = "GPT";
    else if (!startsWithNumeric(p)) p = upperFirst(p);
  }
  return join(kept, " ");
}

}  // namespace brimvale
