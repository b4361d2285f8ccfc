#pragma once

#include <stdexcept>
#include <string>

namespace brimvale {

// The one failure a reader reports: a database pass that could not run.
// Its description is the carried message unchanged.
class StoreError : public std::runtime_error {
 public:
  static StoreError sqlite(const std::string& message) { return StoreError(message); }
  explicit StoreError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace brimvale
