#include "connections/connection_store.h"

#include "platform/user_defaults.h"

namespace brimvale {

namespace {
constexpr const char* kKey = "aiConnections";
}

std::vector<AIConnection> ConnectionStore::load() const {
  std::vector<AIConnection> out;
  auto stored = defaults_.value(kKey);
  if (!stored || !stored->is_array()) return out;
  // One entry that cannot be read (an unknown tool from a newer release, a
  // hand-edited key) must not hide every other connection.
  for (const auto& entry : *stored) {
    try {
      out.push_back(connectionFromJSON(entry));
    } catch (const nlohmann::json::exception&) {
    }
  }
  return out;
}

void ConnectionStore::save(const std::vector<AIConnection>& connections) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const auto& c : connections) list.push_back(toJSON(c));
  defaults_.set(kKey, std::move(list));
}

}  // namespace brimvale
