#pragma once
// The short texts every view shows for figures, dates and times.

#include <cstdint>
#include <string>
#include <string_view>

#include "model/time_util.h"

namespace brimvale {

std::string fmtCost(double usd);
std::string fmtTokens(int64_t tokens);
std::string fmtPercent(double fraction);
std::string fmtDayKey(std::string_view key);
std::string fmtRemaining(Time t, Time now);
std::string fmtAgo(Time t, Time now);
std::string prettyModelName(std::string_view id);

// printf into a std::string.
std::string formatString(const char* pattern, double value);

}  // namespace brimvale
