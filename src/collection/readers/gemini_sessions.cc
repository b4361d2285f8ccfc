#include "collection/readers/gemini_sessions.h"

#include <optional>
#include <unordered_map>

#include "collection/cost_estimation.h"
#include "collection/readers/jsonl_lines.h"

namespace brimvale {
namespace {

namespace dom = simdjson::dom;
using jsonl::integralValue;
using jsonl::stringValue;

struct Reply {
  UsageEvent event;
  std::optional<std::string> id;
};

std::optional<Reply> readMessage(dom::object message) {
  dom::element type, tokensElement, timestampElement;
  if (message["type"].get(type) || stringValue(type) != std::optional<std::string_view>("gemini"))
    return std::nullopt;
  dom::object tokens;
  if (message["tokens"].get(tokensElement) || tokensElement.get_object().get(tokens))
    return std::nullopt;
  if (message["timestamp"].get(timestampElement)) return std::nullopt;
  std::optional<std::string_view> timestamp = stringValue(timestampElement);
  if (!timestamp) return std::nullopt;
  std::optional<Time> ts = parseISO8601Fractional(*timestamp);
  if (!ts) ts = parseISO8601Plain(*timestamp);
  if (!ts) return std::nullopt;

  auto count = [&](const char* key) -> std::optional<int64_t> {
    dom::element e;
    if (tokens[key].get(e)) return std::nullopt;
    return integralValue(e);
  };
  int64_t input = count("input").value_or(0);
  int64_t cached = count("cached").value_or(0);
  int64_t output = count("output").value_or(0);
  int64_t thoughts = count("thoughts").value_or(0);
  int64_t tool = count("tool").value_or(0);
  std::optional<int64_t> total = count("total");

  // Counts that overflow a 64-bit integer are no real record.
  std::optional<int64_t> tokenCount = total ? total : jsonl::checkedSum({input, output, thoughts, tool});
  std::optional<int64_t> costOutput = jsonl::checkedAdd(output, thoughts);
  int64_t fresh;
  if (!tokenCount || *tokenCount < 1 || !costOutput || __builtin_sub_overflow(input, cached, &fresh))
    return std::nullopt;

  Reply reply;
  dom::element modelElement;
  std::optional<std::string_view> model;
  if (!message["model"].get(modelElement)) model = stringValue(modelElement);
  reply.event.ts = *ts;
  reply.event.model = model ? std::string(*model) : std::string("gemini");
  reply.event.tokens = *tokenCount;
  reply.event.cost = estimateCost(reply.event.model, std::max<int64_t>(0, fresh), *costOutput, cached, 0);
  reply.event.provider = "google";
  dom::element idElement;
  if (!message["id"].get(idElement))
    if (auto id = stringValue(idElement)) reply.id = std::string(*id);
  return reply;
}

// The replies of one session document; nothing when the document is not an
// object whose "messages" is an array of objects.
std::vector<Reply> readDocument(dom::parser& parser, const jsonl::FileBuffer& buffer) {
  dom::element root;
  std::string_view text = buffer.text();
  if (parser.parse(text.data(), text.size(), false).get(root)) return {};
  dom::object document;
  if (root.get_object().get(document)) return {};
  dom::element messagesElement;
  dom::array messages;
  if (document["messages"].get(messagesElement) || messagesElement.get_array().get(messages))
    return {};
  for (dom::element m : messages)
    if (!m.is_object()) return {};
  std::vector<Reply> replies;
  for (dom::element m : messages)
    if (auto reply = readMessage(m.get_object().value_unsafe())) replies.push_back(std::move(*reply));
  return replies;
}

}  // namespace

bool isGeminiSessionPath(std::string_view relative) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos <= relative.size()) {
    size_t slash = relative.find('/', pos);
    if (slash == std::string_view::npos) slash = relative.size();
    if (slash > pos) parts.push_back(relative.substr(pos, slash - pos));
    pos = slash + 1;
  }
  if (parts.size() < 2 || parts[parts.size() - 2] != "chats") return false;
  std::string_view last = parts.back();
  return last.starts_with("session-") && jsonl::endsWith(last, ".json");
}

std::vector<UsageEvent> loadGeminiSessions(const std::string& home) {
  if (home.empty()) return {};
  std::vector<std::string> files = jsonl::findFiles(home + "/.gemini/tmp", isGeminiSessionPath);
  jsonl::FileBuffer buffer;
  dom::parser parser;
  std::vector<UsageEvent> byId;
  std::vector<UsageEvent> withoutId;
  std::unordered_map<std::string, size_t> slot;  // id -> index in byId
  for (const auto& path : files) {
    if (!buffer.read(path)) continue;
    for (Reply& reply : readDocument(parser, buffer)) {
      if (!reply.id) {
        withoutId.push_back(std::move(reply.event));
        continue;
      }
      auto [it, fresh] = slot.try_emplace(std::move(*reply.id), byId.size());
      if (fresh) byId.push_back(std::move(reply.event));
      else byId[it->second] = std::move(reply.event);  // the last read wins
    }
  }
  byId.insert(byId.end(), std::make_move_iterator(withoutId.begin()),
              std::make_move_iterator(withoutId.end()));
  return byId;
}

}  // namespace brimvale
