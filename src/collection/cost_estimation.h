#pragma once

#include <cstdint>
#include <string_view>

namespace brimvale {

// List-price estimate in USD from the model name and the token counts.
double estimateCost(std::string_view model, int64_t input, int64_t output, int64_t cacheRead,
                    int64_t cacheWrite);

}  // namespace brimvale
