#pragma once
// Small pieces the probes share: bounded reads of credential files, safe
// conversions of untrusted timestamps, millisecond ISO 8601 texts.

#include <cstddef>
#include <optional>
#include <string>

#include "model/time_util.h"

namespace brimvale::probe {

// The whole regular file when it is at most maxBytes long; nothing otherwise.
std::optional<std::string> readBoundedFile(const std::string& path,
                                           std::size_t maxBytes = std::size_t{1} << 20);

// Seconds since 1970 as a time; nothing for values that are not finite or lie
// outside the range every time of the system keeps to (hostile or garbled
// answers).
std::optional<Time> timeFromUnixSeconds(double seconds);

// UTC with three fractional digits: "2026-03-05T01:15:30.123Z".
std::string formatISO8601Millis(Time t);

}  // namespace brimvale::probe
