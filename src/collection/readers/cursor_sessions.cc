#include "collection/readers/cursor_sessions.h"

#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <unordered_map>
#include <utility>

#include "collection/cost_estimation.h"
#include "collection/readers/cursor_transcripts.h"
#include "collection/readers/record_support.h"
#include "collection/sqlite_copy.h"
#include "collection/store_error.h"
#include "platform/paths.h"

namespace brimvale {
namespace {

namespace od = simdjson::ondemand;
using records::addSaturating;

std::optional<std::string> nonEmpty(std::optional<std::string_view> text) {
  if (!text || text->empty()) return std::nullopt;
  return std::string(*text);
}

std::optional<std::string> modelOf(od::object& object) {
  if (auto type = nonEmpty(records::stringField(object, "modelType"))) return type;
  if (auto info = records::objectField(object, "modelInfo")) {
    if (auto name = nonEmpty(records::stringField(*info, "modelName"))) return name;
  }
  if (auto config = records::objectField(object, "modelConfig")) {
    auto name = nonEmpty(records::stringField(*config, "modelName"));
    if (name && *name != "default") return name;
    if (auto selected = records::field(*config, "selectedModels")) {
      od::array models;
      if (selected->get_array().get(models) == simdjson::SUCCESS) {
        for (auto element : models) {
          od::object first;
          if (element.get_object().get(first) != simdjson::SUCCESS) break;
          if (auto id = nonEmpty(records::stringField(first, "modelId"))) return id;
          break;  // only the first element counts
        }
      }
    }
  }
  auto name = nonEmpty(records::stringField(object, "modelName"));
  if (name && *name != "default") return name;
  return std::nullopt;
}

std::optional<CursorTurn> turnOf(od::object& message) {
  const int64_t kind = records::jsonIntField(message, "type");
  int64_t chars = 0;
  if (auto text = records::stringField(message, "text")) chars = records::characterCount(*text);
  if (auto thinking = records::field(message, "thinking")) {
    od::json_type type;
    od::object nested;
    if (thinking->type().get(type) != simdjson::SUCCESS) {
      // unreadable: no thinking characters
    } else if (type == od::json_type::string) {
      if (auto text = records::stringValue(*thinking))
        chars = addSaturating(chars, records::characterCount(*text));
    } else if (type == od::json_type::object &&
               thinking->get_object().get(nested) == simdjson::SUCCESS) {
      if (auto inner = records::stringField(nested, "text"))
        chars = addSaturating(chars, records::characterCount(*inner));
    }
  }
  std::optional<int64_t> tin;
  std::optional<int64_t> tout;
  if (auto counts = records::objectField(message, "tokenCount")) {
    tin = records::jsonIntField(*counts, "inputTokens");
    tout = records::jsonIntField(*counts, "outputTokens");
  }
  CursorTurn turn;
  turn.model = modelOf(message);
  if (auto created = records::field(message, "createdAt")) {
    od::json_type type;
    if (created->type().get(type) != simdjson::SUCCESS) {
      // unreadable: no time
    } else if (type == od::json_type::string) {
      turn.ts = cursorParseDate(records::stringValue(*created));
    } else if (type == od::json_type::number) {
      turn.ts = records::timeFromSecondsOrMillis(records::jsonInt(*created));
    }
  }
  int64_t tokens = 0;
  if (kind == 1) {
    turn.inputChars = chars;
    if (tin && *tin > 0) turn.inputTokens = tin;
  } else {
    turn.outputChars = chars;
    if (tout && *tout > 0) turn.outputTokens = tout;
    if (tin && *tin > 0) turn.inputTokens = tin;
  }
  tokens = addSaturating(turn.inputTokens.value_or(0), turn.outputTokens.value_or(0));
  if (chars == 0 && tokens < 1) return std::nullopt;
  return turn;
}

std::string columnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  if (!text) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  ~Statement() { sqlite3_finalize(stmt); }
};

// The turns of one conversation in the order their rows were read.
struct Conversation {
  std::string id;
  std::vector<CursorTurn> turns;
};

}  // namespace

int64_t jsonInt(std::string_view valueJSON) {
  // Wrapped in an array, every kind of value (scalars too) is read alike.
  records::JSONParser parser;
  od::document array;
  if (parser.parse("[" + std::string(valueJSON) + "]").get(array) != simdjson::SUCCESS) return 0;
  for (auto element : array) {
    od::value value;
    if (element.get(value) != simdjson::SUCCESS) return 0;
    return records::jsonInt(value);
  }
  return 0;
}

std::optional<Time> cursorParseDate(std::optional<std::string_view> text) {
  if (!text || text->empty()) return std::nullopt;
  if (auto n = records::parseDecimalInteger(*text)) return records::timeFromSecondsOrMillis(*n);
  return parseISO8601(*text);
}

std::optional<std::string> cursorModel(std::string_view objectJSON) {
  records::JSONParser parser;
  od::document doc;
  od::object object;
  if (parser.parse(objectJSON).get(doc) != simdjson::SUCCESS) return std::nullopt;
  if (doc.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
  return modelOf(object);
}

std::optional<CursorTurn> cursorComposerTurn(std::string_view messageJSON) {
  records::JSONParser parser;
  od::document doc;
  od::object object;
  if (parser.parse(messageJSON).get(doc) != simdjson::SUCCESS) return std::nullopt;
  if (doc.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
  return turnOf(object);
}

std::vector<UsageEvent> cursorEvents(const std::vector<CursorTurn>& turns,
                                     const std::string& fallbackModel, Time fallbackTs) {
  std::vector<UsageEvent> events;
  int64_t pendingChars = 0;
  int64_t pendingTokens = 0;
  bool knownInput = false;
  for (const CursorTurn& turn : turns) {
    if (turn.outputChars == 0 && !turn.outputTokens) {
      pendingChars = addSaturating(pendingChars, turn.inputChars);
      if (turn.inputTokens) {
        pendingTokens = addSaturating(pendingTokens, *turn.inputTokens);
        knownInput = true;
      }
      continue;
    }
    int64_t input = 0;
    if (turn.inputTokens) {
      input = *turn.inputTokens;
    } else if (knownInput) {
      input = pendingTokens;
    } else {
      input = addSaturating(pendingChars, turn.inputChars) / 4;
    }
    const int64_t output = turn.outputTokens ? *turn.outputTokens : turn.outputChars / 4;
    const int64_t tokens = addSaturating(input, output);
    if (tokens > 0) {
      UsageEvent event;
      event.ts = turn.ts.value_or(fallbackTs);
      event.model = turn.model.value_or(fallbackModel);
      event.tokens = tokens;
      event.cost = estimateCost(event.model, input, output, 0, 0);
      event.provider = "cursor";
      events.push_back(std::move(event));
    }
    pendingChars = 0;
    pendingTokens = 0;
    knownInput = false;
  }
  return events;
}

std::map<std::string, CursorSummary> cursorComposerHeaders(sqlite3* db) {
  std::map<std::string, CursorSummary> headers;
  Statement stmt;
  if (sqlite3_prepare_v2(db, "SELECT composerId, createdAt, lastUpdatedAt, value FROM composerHeaders",
                         -1, &stmt.stmt, nullptr) != SQLITE_OK)
    return headers;
  records::JSONParser parser;
  while (sqlite3_step(stmt.stmt) == SQLITE_ROW) {
    if (sqlite3_column_type(stmt.stmt, 0) == SQLITE_NULL) continue;
    const int64_t created = sqlite3_column_int64(stmt.stmt, 1);
    const int64_t updated = sqlite3_column_int64(stmt.stmt, 2);
    const int64_t m = updated >= 1 ? updated : created;
    CursorSummary summary;
    if (m >= 1) summary.updatedAt = records::timeFromSecondsOrMillis(m);
    if (sqlite3_column_type(stmt.stmt, 3) != SQLITE_NULL) {
      const std::string value = columnText(stmt.stmt, 3);
      od::document doc;
      od::object object;
      if (parser.parse(value).get(doc) == simdjson::SUCCESS &&
          doc.get_object().get(object) == simdjson::SUCCESS)
        summary.model = modelOf(object);
    }
    headers[columnText(stmt.stmt, 0)] = std::move(summary);
  }
  return headers;
}

CursorComposerLoad loadCursorComposerEvents(sqlite3* db, Time now) {
  CursorComposerLoad load;
  const auto headers = cursorComposerHeaders(db);
  Statement stmt;
  if (sqlite3_prepare_v2(db, "SELECT key, value FROM cursorDiskKV WHERE key LIKE 'bubbleId:%'", -1,
                         &stmt.stmt, nullptr) != SQLITE_OK)
    return load;

  std::vector<Conversation> conversations;
  std::unordered_map<std::string, size_t> index;
  records::JSONParser parser;
  while (sqlite3_step(stmt.stmt) == SQLITE_ROW) {
    if (sqlite3_column_type(stmt.stmt, 0) == SQLITE_NULL ||
        sqlite3_column_type(stmt.stmt, 1) == SQLITE_NULL)
      continue;
    const std::string key = columnText(stmt.stmt, 0);
    // "bubbleId:" + composer id + ":" + message id (which may hold colons).
    const size_t first = key.find(':');
    const size_t second = first == std::string::npos ? first : key.find(':', first + 1);
    if (second == std::string::npos || key.compare(0, first, "bubbleId") != 0) continue;
    std::string composer = key.substr(first + 1, second - first - 1);

    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt.stmt, 1));
    const auto size = static_cast<size_t>(sqlite3_column_bytes(stmt.stmt, 1));
    od::document doc;
    od::object object;
    if (parser.parse(std::string_view(bytes ? bytes : "", bytes ? size : 0)).get(doc) !=
            simdjson::SUCCESS ||
        doc.get_object().get(object) != simdjson::SUCCESS)
      continue;
    auto turn = turnOf(object);
    if (!turn) continue;
    auto [it, inserted] = index.try_emplace(composer, conversations.size());
    if (inserted) conversations.push_back(Conversation{std::move(composer), {}});
    conversations[it->second].turns.push_back(std::move(*turn));
  }

  for (Conversation& conversation : conversations) {
    load.composerIds.push_back(conversation.id);
    std::string model = kCursorFallbackModel;
    Time fallbackTs = now;
    if (auto header = headers.find(conversation.id); header != headers.end()) {
      if (header->second.model) model = *header->second.model;
      if (header->second.updatedAt) fallbackTs = *header->second.updatedAt;
    }
    // Turns without a time come first; equal times keep their row order.
    std::stable_sort(conversation.turns.begin(), conversation.turns.end(),
                     [](const CursorTurn& a, const CursorTurn& b) {
                       if (!b.ts) return false;
                       if (!a.ts) return true;
                       return *a.ts < *b.ts;
                     });
    auto events = cursorEvents(conversation.turns, model, fallbackTs);
    load.events.insert(load.events.end(), std::make_move_iterator(events.begin()),
                       std::make_move_iterator(events.end()));
  }
  return load;
}

std::vector<UsageEvent> loadCursorSessions(const std::string& home, Time now) {
  CursorComposerLoad composer;
  const std::string database = paths::cursorStateDB(home);
  if (records::fileExists(database)) {
    try {
      composer = withSQLiteCopy(database, "cursor-composer",
                                [&](sqlite3* db) { return loadCursorComposerEvents(db, now); });
    } catch (const StoreError&) {
      composer = {};  // an unreadable database only means no composer events
    }
  }
  std::set<std::string> counted(composer.composerIds.begin(), composer.composerIds.end());
  std::vector<UsageEvent> events = std::move(composer.events);
  std::vector<UsageEvent> transcripts = loadCursorTranscriptEvents(home, counted, now);
  events.insert(events.end(), std::make_move_iterator(transcripts.begin()),
                std::make_move_iterator(transcripts.end()));
  return events;
}

std::vector<UsageEvent> loadCursorSessions(const std::string& home) {
  return loadCursorSessions(home, Clock::now());
}

}  // namespace brimvale
