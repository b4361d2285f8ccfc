#pragma once
// What the database-backed readers (gjc, Cursor, Grok) need beyond the shared
// file, line and lenient JSON helpers of jsonl_lines.h: folder listings by
// relative path, user-perceived character counts, blank trimming, guarded time
// conversions, a copying JSON parser for database texts and Cursor's and
// Grok's own lenient integer rule. Nothing here reports an error: what cannot
// be read yields nothing.

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

// Names of a folder's direct entries, sorted by their bytes; none when the
// folder cannot be listed.
std::optional<std::vector<std::string>> listFolder(const std::string& path);

// Paths relative to root of every regular file below it (links to folders are
// not followed), sorted by their bytes; none when root cannot be enumerated.
// Unlike jsonl::findFiles, which gives full paths of every non-folder entry
// for the JSON-lines readers, this tells a missing root from an empty one and
// lists only what is a regular file now.
std::optional<std::vector<std::string>> findFiles(const std::string& root);

std::optional<Time> modificationTime(const std::string& path);

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);

// ---------------------------------------------------------------------------
// Text

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

// Times from counts since 1970-01-01 UTC; none outside the range every time
// of the system keeps to (see checkedFromUnixSeconds).
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

// The lenient integer Cursor's and Grok's records are read with: an integer
// number gives itself, another number its value truncated toward zero (0 when
// that does not fit int64), a string of an optional sign and decimal digits
// that fits int64 that integer, anything else 0. This is looser than
// jsonl::countValue, where a fraction or a string counts as 0.
int64_t jsonInt(simdjson::ondemand::value value);
int64_t jsonIntField(simdjson::ondemand::object& object, std::string_view key);

}  // namespace brimvale::records
