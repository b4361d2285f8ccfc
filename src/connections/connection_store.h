#pragma once

#include <vector>

#include "connections/ai_connection.h"

namespace brimvale {

class UserDefaults;

// The connections, kept under the defaults key "aiConnections".
class ConnectionStore {
 public:
  explicit ConnectionStore(UserDefaults& defaults) : defaults_(defaults) {}
  // Stored order; entries that cannot be decoded are skipped.
  std::vector<AIConnection> load() const;
  void save(const std::vector<AIConnection>& connections);

 private:
  UserDefaults& defaults_;
};

}  // namespace brimvale
