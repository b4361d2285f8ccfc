#include "model/formatting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "support/test_env.h"

namespace brimvale {
namespace {

using std::chrono::milliseconds;

TEST(FmtCost, PicksThePatternByRangeAndRoundsLikePrintf) {
  struct Case {
    double usd;
    const char* text;
  };
  const Case cases[] = {
      {12345, "$12.3k"},  {10000, "$10.0k"},     {9999.999, "$10.00k"}, {1234.5, "$1.23k"},
      {1000, "$1.00k"},   {999.5, "$1000"},      {998.5, "$998"},       {123.4, "$123"},
      {100, "$100"},      {99.99, "$100.0"},     {12.34, "$12.3"},      {10, "$10.0"},
      {9.995, "$9.99"},   {1.234, "$1.23"},      {0.125, "$0.12"},      {0, "$0.00"},
      {-0.001, "$-0.00"}, {-5, "$-5.00"},        {-20000, "$-20000.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.usd);
    EXPECT_EQ(fmtCost(c.usd), c.text);
  }
  // Longer than any fixed buffer: 298 integer digits.
  const std::string huge = fmtCost(1e300);
  EXPECT_EQ(huge.size(), 302u);
  EXPECT_EQ(huge.substr(0, 5), "$1000");
  EXPECT_EQ(huge.substr(huge.size() - 3), ".0k");
}

TEST(FmtTokens, UsesUpperCaseSuffixesWithoutPromotionAfterRounding) {
  struct Case {
    int64_t tokens;
    const char* text;
  };
  const Case cases[] = {
      {std::numeric_limits<int64_t>::max(), "9223372036.85B"},
      {1234567890, "1.23B"},
      {1000000000, "1.00B"},
      {999999999, "1000.0M"},
      {2100000, "2.1M"},
      {1000000, "1.0M"},
      {999999, "1000.0K"},
      {8400, "8.4K"},
      {1250, "1.2K"},
      {1000, "1.0K"},
      {999, "999"},
      {0, "0"},
      {-1500, "-1500"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tokens);
    EXPECT_EQ(fmtTokens(c.tokens), c.text);
  }
}

TEST(FmtPercent, RoundsExactHalvesToEven) {
  struct Case {
    double fraction;
    const char* text;
  };
  const Case cases[] = {{0.423, "42%"}, {0.125, "12%"}, {0.375, "38%"}, {0.005, "0%"},
                        {0, "0%"},      {1.5, "150%"},  {-0.1, "-10%"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fraction);
    EXPECT_EQ(fmtPercent(c.fraction), c.text);
  }
}

TEST(FmtDayKey, WritesKoreanDatesAndReturnsOtherTextsUnchanged) {
  struct Case {
    const char* key;
    const char* text;
  };
  const Case cases[] = {
      {"2026-03-05", "2026. 3. 5"}, {"2026-12-31", "2026. 12. 31"},
      {"2024-02-29", "2024. 2. 29"}, {"0999-01-05", "0999-01-05"},
      {"", ""},                      {"2026-02-29", "2026-02-29"},
      {"2026-13-01", "2026-13-01"},  {"2026-3-5", "2026-3-5"},
      {"yesterday", "yesterday"},    {"2026-03-05T10:00:00Z", "2026-03-05T10:00:00Z"},
  };
  // Chile skips local midnight when daylight saving starts; the day still shows.
  for (const char* zone : {"Europe/Berlin", "America/Santiago"}) {
    test::ScopedTimeZone tz(zone);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(zone) + " " + c.key);
      EXPECT_EQ(fmtDayKey(c.key), c.text);
    }
    EXPECT_EQ(fmtDayKey("2026-09-06"), "2026. 9. 6");
  }
}

TEST(FmtRemaining, CountsWholeMinutesAhead) {
  const Time now = *parseISO8601("2026-03-05T10:00:00Z");
  struct Case {
    int64_t aheadMillis;
    const char* text;
  };
  const Case cases[] = {
      {-3600000, "0분"},
      {-1000, "0분"},
      {59000, "0분"},
      {60000, "1분"},
      {119900, "1분"},
      {(45 * 60 + 30) * 1000, "45분"},
      {3599000, "59분"},
      {3600000, "1시간 0분"},
      {(3 * 60 + 5) * 60000, "3시간 5분"},
      {(1439 * 60 + 59) * 1000, "23시간 59분"},
      {1440 * 60000, "1일 0시간"},
      {(1440 + 59) * 60000, "1일 0시간"},
      {(2 * 1440 + 3 * 60 + 59) * 60000, "2일 3시간"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.aheadMillis);
    EXPECT_EQ(fmtRemaining(now + milliseconds(c.aheadMillis), now), c.text);
  }
}

TEST(FmtAgo, CountsWholeMinutesBack) {
  const Time now = *parseISO8601("2026-03-05T10:00:00Z");
  struct Case {
    int64_t agoMillis;
    const char* text;
  };
  const Case cases[] = {
      {-600000, "방금"},
      {0, "방금"},
      {30000, "방금"},
      {59900, "방금"},
      {60000, "1분 전"},
      {(59 * 60 + 59) * 1000, "59분 전"},
      {3600000, "1시간 전"},
      {(1439 * 60 + 59) * 1000, "23시간 전"},
      {1440 * 60000, "1일 전"},
      {int64_t{400} * 86400000, "400일 전"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.agoMillis);
    EXPECT_EQ(fmtAgo(now - milliseconds(c.agoMillis), now), c.text);
  }
}

TEST(PrettyModelName, NamesClaudeAndOtherFamilies) {
  struct Case {
    const char* id;
    const char* name;
  };
  const Case cases[] = {
      // Claude: family name, then the integer parts joined with dots.
      {"claude-opus-4-8", "Opus 4.8"},
      {"claude-sonnet-4-5-20250929", "Sonnet 4.5.20250929"},
      {"claude-3-5-sonnet-20241022", "3 5.20241022"},
      {"Claude-Haiku-4-5", "Haiku 4.5"},
      {"claude-sonnet", "Sonnet"},
      {"claude-OPUS-4", "OPUS 4"},
      {"claude--opus--4", "Opus 4"},
      {"claude-opus-4.1-beta", "Opus"},
      {"claude-opus-+4", "Opus +4"},
      {"claude-opus-99999999999999999999", "Opus"},
      {"claude-émile-1", "Émile 1"},
      {"claude", "claude"},
      {"-claude-", "-claude-"},
      {"", ""},
      {"---", "---"},
      // Everything else: noise parts dropped, words capitalised.
      {"gpt-5-codex", "GPT 5 Codex"},
      {"GPT-4o", "GPT 4o"},
      {"gemini-2.5-pro-preview", "Gemini 2.5 Pro"},
      {"gemini-exp-1206", "Gemini 1206"},
      {"gemini-2.0-flash-001", "Gemini 2.0 Flash"},
      {"grok-4-latest", "Grok 4"},
      {"o3-mini", "O3 Mini"},
      {"mistral-large-2411", "Mistral Large 2411"},
      {"models/gemini-Exp", "Models/gemini"},
      {"latest", "Latest"},
      {"preview-LATEST", "Preview LATEST"},
      {"éclair-pro", "Éclair Pro"},
      {"model-٣x", "Model ٣x"},
      // Bytes that are not UTF-8 are kept as they are.
      {"\xff\xfe-pro", "\xff\xfe Pro"},
      {"claude-\xc3", "\xc3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(prettyModelName(c.id), c.name);
  }
}

}  // namespace
}  // namespace brimvale
