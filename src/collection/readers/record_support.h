#pragma once
// Small building blocks of the database-backed readers (gjc, Cursor, Grok):
// quiet file and folder access, line walking, user-perceived character counts,
// guarded time conversions and lenient field access on simdjson's on-demand
// values. Nothing here reports an error: what cannot be read yields nothing.

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/time_util.h"

namespace brimvale::records {

// ---------------------------------------------------------------------------
// Files and folders

// The bytes of a regular file (links followed) from byte `start` to its end.
// None when it cannot be opened or read, is not a regular file, start lies at
// or beyond its end, or the part to read exceeds kMaxFileBytes.
std::optional<std::string> readFile(const std::string& path, uint64_t start = 0);
inline constexpr uint64_t kMaxFileBytes = uint64_t{1} << 30;

// Names of a folder's direct entries, sorted by their bytes; none when the
// folder cannot be listed.
std::optional<std::vector<std::string>> listFolder(const std::string& path);

// Paths relative to root of every regular file below it (links to folders are
// not followed), sorted by their bytes; none when root cannot be enumerated.
std::optional<std::vector<std::string>> findFiles(const std::string& root);

std::optional<Time> modificationTime(const std::string& path);

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);

// ---------------------------------------------------------------------------
// Text

inline bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}
inline bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The parts of text between line feeds, in order; a last part without a final
// line feed is included. Empty parts are dropped unless keepEmpty.
std::vector<std::string_view> splitLines(std::string_view text, bool keepEmpty);

bool validUTF8(std::string_view text);

// User-perceived characters (extended grapheme clusters) of UTF-8 text. An
// invalid byte counts as one character of its own.
int64_t characterCount(std::string_view text);

// text without leading and trailing blanks: Unicode space separators (Zs) and
// tabs. Line breaks are not blanks.
std::string_view trimBlanks(std::string_view text);

// A whole text of an optional sign and decimal digits that fits int64.
std::optional<int64_t> parseDecimalInteger(std::string_view text);

// ---------------------------------------------------------------------------
// Numbers and times

// a + b, held at the int64 limits instead of overflowing.
int64_t addSaturating(int64_t a, int64_t b);

// Times from counts since 1970-01-01 UTC; none outside what Time can hold.
std::optional<Time> timeFromMillis(int64_t millis);
std::optional<Time> timeFromSeconds(int64_t seconds);
// n milliseconds when n > 10^12, else n seconds.
std::optional<Time> timeFromSecondsOrMillis(int64_t n);

// ---------------------------------------------------------------------------
// JSON (simdjson on-demand)

// Parses one JSON text at a time. The text is copied into a padded buffer, so
// any string_view can be parsed; values and strings from a document stay valid
// until the next parse.
class JSONParser {
 public:
  simdjson::simdjson_result<simdjson::ondemand::document> parse(std::string_view text);

 private:
  simdjson::ondemand::parser parser_;
  std::string buffer_;
};

// Field access that never throws. A missing field or one of another type
// gives none.
std::optional<simdjson::ondemand::value> field(simdjson::ondemand::object& object,
                                               std::string_view key);
std::optional<std::string_view> stringField(simdjson::ondemand::object& object,
                                            std::string_view key);
std::optional<simdjson::ondemand::object> objectField(simdjson::ondemand::object& object,
                                                      std::string_view key);
// A number with an integral value that fits int64 (12 and 12.0; not 12.5).
std::optional<int64_t> integerField(simdjson::ondemand::object& object, std::string_view key);
// Any number as a double.
std::optional<double> numberField(simdjson::ondemand::object& object, std::string_view key);

std::optional<std::string_view> stringValue(simdjson::ondemand::value value);
std::optional<int64_t> integralValue(simdjson::ondemand::value value);
std::optional<double> numberValue(simdjson::ondemand::value value);

// The lenient integer of a JSON value: an integer number gives itself, another
// number its value truncated toward zero (0 when that does not fit int64), a
// string of an optional sign and decimal digits that fits int64 that integer,
// anything else 0.
int64_t jsonInt(simdjson::ondemand::value value);
int64_t jsonIntField(simdjson::ondemand::object& object, std::string_view key);

}  // namespace brimvale::records
