#pragma once

#include <cstdint>
#include <string>

#include "model/time_util.h"

namespace brimvale {

// One usage record as a reader found it; never persisted.
struct UsageEvent {
  Time ts{};
  std::string model;     // as the tool wrote it, may be empty
  int64_t tokens = 0;    // the reader decides which kinds it adds up
  double cost = 0;       // USD, usually estimated
  std::string provider;  // free text, only feeds provider detection

  bool operator==(const UsageEvent&) const = default;
};

}  // namespace brimvale
