#include "collection/cost_estimation.h"

#include <string>

namespace brimvale {
namespace {

struct Prices {
  double input, output, cacheRead, cacheWrite;  // USD per million tokens
};

// First matching row wins; the order is part of the pricing.
Prices pricesFor(std::string_view model) {
  std::string m(model);
  for (char& c : m)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  auto has = [&](std::string_view s) { return m.find(s) != std::string::npos; };
  auto starts = [&](std::string_view s) { return m.starts_with(s); };

  if (has("gpt") || has("codex") || starts("o1") || starts("o3") || starts("o4"))
    return {1.25, 10, 0.125, 0};
  if (has("gemini")) return has("flash") ? Prices{0.30, 2.50, 0.03, 0} : Prices{1.25, 10, 0.125, 0};
  if (has("grok")) {
    if (has("mini")) return {0.30, 0.50, 0.03, 0};
    if (has("4.6") || has("4.5")) return {2, 6, 0.50, 0};
    if (has("4.20") || has("4.3")) return {1.25, 2.50, 0.20, 0};
    if (has("build")) return {1, 2, 0.20, 0};
    return {2, 6, 0.50, 0};
  }
  if (has("composer") || has("cursor")) return {1.25, 10, 0.125, 0};
  if (has("opus")) return {15, 75, 1.50, 18.75};
  if (has("haiku")) return {0.80, 4, 0.08, 1.00};
  return {3, 15, 0.30, 3.75};
}

}  // namespace

double estimateCost(std::string_view model, int64_t input, int64_t output, int64_t cacheRead,
                    int64_t cacheWrite) {
  Prices p = pricesFor(model);
  return (static_cast<double>(input) * p.input + static_cast<double>(output) * p.output +
          static_cast<double>(cacheRead) * p.cacheRead +
          static_cast<double>(cacheWrite) * p.cacheWrite) /
         1000000.0;
}

}  // namespace brimvale
