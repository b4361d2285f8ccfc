#include "collection/readers/record_support.h"

#include <gtest/gtest.h>

#include <limits>

#include "collection/readers/cursor_sessions.h"
#include "support/test_env.h"

namespace brimvale::records {
namespace {

TEST(RecordSupport, CountsUserPerceivedCharacters) {
  struct Case {
    const char* text;
    int64_t characters;
  };
  const Case cases[] = {
      {"", 0},
      {"hello", 5},
      {"e\u0301te\u0301", 3},                             // combining acute accents
      {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},  // family emoji joined by ZWJ
      {"\U0001F1F0\U0001F1F7\U0001F1E9\U0001F1EA", 2},    // two flags
      {"\U0001F44D\U0001F3FD!", 2},                       // thumbs up with skin tone
      {"\u1100\u1161\u11A8", 1},                          // jamo forming one syllable
      {"\uD55C\uAD6D\uC5B4", 3},                          // three Hangul syllables
      {"a\r\nb", 3},                                      // CR LF is one character
      {"a\xFF"
       "b",
       3},  // an invalid byte stands alone
  };
  for (const Case& c : cases) EXPECT_EQ(characterCount(c.text), c.characters) << c.text;
}

TEST(RecordSupport, TrimsSpaceSeparatorsAndTabsButNotLineBreaks) {
  EXPECT_EQ(trimBlanks(" \t\u00A0\u3000user: hi\u2003 "), "user: hi");
  EXPECT_EQ(trimBlanks("\u00A0\t"), "");
  EXPECT_EQ(trimBlanks("A: x\r"), "A: x\r");
  EXPECT_EQ(trimBlanks("\nA:"), "\nA:");
}

TEST(RecordSupport, SplitsLinesWithAndWithoutEmptyOnes) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(splitLines("a\n\nb\n", false), (V{"a", "b"}));
  EXPECT_EQ(splitLines("a\n\nb\n", true), (V{"a", "", "b"}));
  EXPECT_EQ(splitLines("a\n\nb", true), (V{"a", "", "b"}));
  EXPECT_EQ(splitLines("", true), V{});
}

TEST(RecordSupport, JsonIntIsLenient) {
  struct Case {
    const char* json;
    int64_t value;
  };
  const Case cases[] = {
      {"42", 42},
      {"-7", -7},
      {"12.9", 12},
      {"-12.9", -12},
      {"1e3", 1000},
      {"\"123\"", 123},
      {"\"+5\"", 5},
      {"\"-5\"", -5},
      {"\"12.5\"", 0},
      {"\" 5\"", 0},
      {"\"\"", 0},
      {"\"99999999999999999999\"", 0},  // does not fit
      {"18446744073709551615", 0},
      {"1e300", 0},
      {"null", 0},
      {"true", 0},
      {"{\"a\":1}", 0},
      {"[1]", 0},
      {"not json", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(brimvale::jsonInt(c.json), c.value) << c.json;
}

TEST(RecordSupport, TimesOutsideTheRepresentableRangeAreNone) {
  EXPECT_EQ(timeFromMillis(1735689600000), parseISO8601("2025-01-01T00:00:00Z"));
  EXPECT_FALSE(timeFromMillis(std::numeric_limits<int64_t>::max()));
  EXPECT_FALSE(timeFromSeconds(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(addSaturating(std::numeric_limits<int64_t>::max(), 1),
            std::numeric_limits<int64_t>::max());
}

TEST(RecordSupport, ReadsFilesFromAnOffset) {
  test::TempDir dir;
  const std::string path = dir.write("f.txt", "0123456789");
  EXPECT_EQ(readFile(path), "0123456789");
  EXPECT_EQ(readFile(path, 7), "789");
  EXPECT_FALSE(readFile(path, 10));
  EXPECT_FALSE(readFile(dir.path()));  // a folder is no file
  EXPECT_FALSE(readFile(dir / "missing"));
}

}  // namespace
}  // namespace brimvale::records
