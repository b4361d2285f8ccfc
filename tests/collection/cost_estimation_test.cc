#include "collection/cost_estimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brimvale {
namespace {

struct Prices {
  double input, output, cacheRead, cacheWrite;  // USD per million tokens
};

constexpr Prices kOpenAI{1.25, 10, 0.125, 0};
constexpr Prices kGeminiFlash{0.30, 2.50, 0.03, 0};
constexpr Prices kGemini{1.25, 10, 0.125, 0};
constexpr Prices kGrokMini{0.30, 0.50, 0.03, 0};
constexpr Prices kGrok{2, 6, 0.50, 0};
constexpr Prices kGrokFast{1.25, 2.50, 0.20, 0};
constexpr Prices kGrokBuild{1, 2, 0.20, 0};
constexpr Prices kCursor{1.25, 10, 0.125, 0};
constexpr Prices kOpus{15, 75, 1.50, 18.75};
constexpr Prices kHaiku{0.80, 4, 0.08, 1.00};
constexpr Prices kSonnet{3, 15, 0.30, 3.75};

TEST(EstimateCost, FirstMatchingRowPrices) {
  struct Case {
    const char* model;
    Prices prices;
  };
  const Case cases[] = {
      {"gpt-5", kOpenAI},
      {"GPT-5-Codex", kOpenAI},
      {"claude-opus-gpt", kOpenAI},  // "gpt" before "opus"
      {"opus-codex", kOpenAI},
      {"o1", kOpenAI},
      {"O3-pro", kOpenAI},
      {"o3-mini", kOpenAI},
      {"o4-mini", kOpenAI},
      {"gpt-gemini-flash", kOpenAI},
      {"gemini-2.5-flash", kGeminiFlash},
      {"Gemini-Flash-grok-mini", kGeminiFlash},  // gemini before grok
      {"gemini-2.5-pro", kGemini},
      {"gemini-opus", kGemini},
      {"flash", kSonnet},
      {"grok-4.5-mini", kGrokMini},  // "mini" before "4.5"
      {"Grok-Code-Fast-MINI", kGrokMini},
      {"grok-4.6", kGrok},
      {"grok-4.5", kGrok},
      {"grok-4.20-build", kGrokFast},  // "4.20" before "build"
      {"grok-4.3", kGrokFast},
      {"grok-build-1", kGrokBuild},
      {"grok-4", kGrok},
      {"grok-composer", kGrok},
      {"composer-opus", kCursor},
      {"cursor-small", kCursor},
      {"claude-opus-4-8", kOpus},
      {"opus-haiku", kOpus},
      {"claude-haiku-4-5", kHaiku},
      {"claude-sonnet-4-5", kSonnet},
      {"", kSonnet},
      {"mistral-o3", kSonnet},  // neither "gpt" nor starting with "o3"
      {"4.5-mini", kSonnet},    // no "grok"
  };
  constexpr int64_t M = 1000000;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    EXPECT_DOUBLE_EQ(estimateCost(c.model, M, 0, 0, 0), c.prices.input);
    EXPECT_DOUBLE_EQ(estimateCost(c.model, 0, M, 0, 0), c.prices.output);
    EXPECT_DOUBLE_EQ(estimateCost(c.model, 0, 0, M, 0), c.prices.cacheRead);
    EXPECT_DOUBLE_EQ(estimateCost(c.model, 0, 0, 0, M), c.prices.cacheWrite);
  }
}

TEST(EstimateCost, SumsTheFourCountsPerMillion) {
  struct Case {
    const char* model;
    int64_t input, output, cacheRead, cacheWrite;
    double cost;
  };
  const Case cases[] = {
      {"claude-opus-4-8", 1000, 2000, 10000, 500, 0.189375},
      {"gpt-5", 1000, 2000, 10000, 500, 0.0225},
      {"claude-sonnet-4-5", -1000000, 0, 0, 0, -3},
      {"claude-sonnet-4-5", 1000000, -1000000, 0, 0, -12},
      {"", 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    EXPECT_DOUBLE_EQ(estimateCost(c.model, c.input, c.output, c.cacheRead, c.cacheWrite), c.cost);
  }
  EXPECT_EQ(estimateCost("claude-opus-4-8", 0, 0, 0, 0), 0.0);

  const int64_t huge = std::numeric_limits<int64_t>::max();
  double big = estimateCost("claude-opus-4-8", huge, huge, huge, huge);
  EXPECT_TRUE(std::isfinite(big));
  EXPECT_GT(big, 0);
}

}  // namespace
}  // namespace brimvale
