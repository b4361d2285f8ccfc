#include "collection/readers/record_support.h"

#include <sys/stat.h>
#include <utf8proc.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "collection/readers/jsonl_lines.h"

namespace brimvale::records {

namespace fs = std::filesystem;
namespace od = simdjson::ondemand;

std::optional<std::vector<std::string>> listFolder(const std::string& path) {
  std::error_code ec;
  fs::directory_iterator it(path, ec);
  if (ec) return std::nullopt;
  std::vector<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::vector<std::string>> findFiles(const std::string& root) {
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  if (ec) return std::nullopt;
  std::vector<std::string> files;
  const fs::path base(root);
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    files.push_back(it->path().lexically_relative(base).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<Time> modificationTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  auto since = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
  return Time(std::chrono::duration_cast<Clock::duration>(since));
}

bool isDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

int64_t characterCount(std::string_view text) {
  auto p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  auto left = static_cast<utf8proc_ssize_t>(text.size());
  int64_t count = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  while (left > 0) {
    utf8proc_int32_t cp = 0;
    utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
    if (n < 1) {  // an invalid byte stands alone
      ++count;
      previous = -1;
      state = 0;
      ++p;
      --left;
      continue;
    }
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, cp, &state)) ++count;
    previous = cp;
    p += n;
    left -= n;
  }
  return count;
}

std::string_view trimBlanks(std::string_view text) {
  auto p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_ssize_t pos = 0;
  utf8proc_ssize_t first = -1;  // start of the first non-blank
  utf8proc_ssize_t last = 0;    // end of the last non-blank
  while (pos < size) {
    utf8proc_int32_t cp = 0;
    utf8proc_ssize_t n = utf8proc_iterate(p + pos, size - pos, &cp);
    bool blank = false;
    if (n < 1) {
      n = 1;
    } else {
      blank = cp == '\t' || utf8proc_category(cp) == UTF8PROC_CATEGORY_ZS;
    }
    if (!blank) {
      if (first < 0) first = pos;
      last = pos + n;
    }
    pos += n;
  }
  if (first < 0) return text.substr(0, 0);
  return text.substr(static_cast<size_t>(first), static_cast<size_t>(last - first));
}

std::optional<int64_t> parseDecimalInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::string_view digits = text.front() == '-' ? text.substr(1) : text;
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(),
                                     [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int64_t addSaturating(int64_t a, int64_t b) {
  int64_t r = 0;
  if (!__builtin_add_overflow(a, b, &r)) return r;
  return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

namespace {
// Time counts nanoseconds in an int64: about ±292 years around 1970.
}  // namespace

std::optional<Time> timeFromMillis(int64_t millis) { return checkedFromUnixMillis(millis); }

std::optional<Time> timeFromSeconds(int64_t seconds) {
  return checkedFromUnixSeconds(static_cast<double>(seconds));
}

std::optional<Time> timeFromSecondsOrMillis(int64_t n) {
  return n > 1'000'000'000'000 ? timeFromMillis(n) : timeFromSeconds(n);
}

simdjson::simdjson_result<od::document> JSONParser::parse(std::string_view text) {
  buffer_.assign(text);
  buffer_.append(simdjson::SIMDJSON_PADDING, '\0');
  return parser_.iterate(buffer_.data(), text.size(), buffer_.size());
}

namespace {

// A double truncated toward zero, when the result fits int64.
std::optional<int64_t> truncated(double number) {
  if (!std::isfinite(number)) return std::nullopt;
  double whole = std::trunc(number);
  // 2^63 is exactly representable; everything below it converts safely.
  if (whole >= 9223372036854775808.0 || whole < -9223372036854775808.0) return std::nullopt;
  return static_cast<int64_t>(whole);
}

// A JSON number as an integer: integers as they are (none above int64), other
// numbers truncated toward zero.
std::optional<int64_t> truncatedNumber(od::value value) {
  od::number_type kind;
  if (value.get_number_type().get(kind) != simdjson::SUCCESS) return std::nullopt;
  if (kind == od::number_type::signed_integer) {
    int64_t n = 0;
    if (value.get_int64().get(n) != simdjson::SUCCESS) return std::nullopt;
    return n;
  }
  if (kind == od::number_type::unsigned_integer) return std::nullopt;  // above int64
  double number = 0;
  if (value.get_double().get(number) != simdjson::SUCCESS) return std::nullopt;
  return truncated(number);
}

}  // namespace

int64_t jsonInt(od::value value) {
  od::json_type type;
  if (value.type().get(type) != simdjson::SUCCESS) return 0;
  if (type == od::json_type::number) return truncatedNumber(value).value_or(0);
  if (type == od::json_type::string) {
    if (auto text = jsonl::stringValue(value)) return parseDecimalInteger(*text).value_or(0);
  }
  return 0;
}

int64_t jsonIntField(od::object& object, std::string_view key) {
  auto value = jsonl::field(object, key);
  return value ? jsonInt(*value) : 0;
}

}  // namespace brimvale::records
