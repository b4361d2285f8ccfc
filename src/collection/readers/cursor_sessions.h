#pragma once
// Cursor keeps no usage log. Its editor stores every chat message ("bubble")
// as JSON in the key-value table of its state database; replies are paired
// with the user input before them and, where a message records no token
// counts, tokens are estimated at four characters to a token.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/time_util.h"
#include "model/usage_event.h"

struct sqlite3;

namespace brimvale {

// What is known about one conversation.
struct CursorSummary {
  std::optional<std::string> model;
  std::optional<Time> updatedAt;
  bool operator==(const CursorSummary&) const = default;
};

// One message reduced to what the pairing needs. Characters are
// user-perceived characters (grapheme clusters).
struct CursorTurn {
  int64_t inputChars = 0;
  int64_t outputChars = 0;  // reply text plus thinking
  std::optional<int64_t> inputTokens;
  std::optional<int64_t> outputTokens;
  std::optional<std::string> model;
  std::optional<Time> ts;
  bool operator==(const CursorTurn&) const = default;
};

struct CursorComposerLoad {
  std::vector<UsageEvent> events;
  std::vector<std::string> composerIds;  // conversations with at least one turn
};

inline constexpr const char* kCursorFallbackModel = "cursor-auto";

// The composer records of the state database (through a private copy) plus
// the agent transcripts of conversations not counted there. Never fails: a
// database that cannot be read only narrows the result. `now` stamps records
// that carry no time at all.
std::vector<UsageEvent> loadCursorSessions(const std::string& home);
std::vector<UsageEvent> loadCursorSessions(const std::string& home, Time now);

// The database pass over an open state database.
CursorComposerLoad loadCursorComposerEvents(sqlite3* db, Time now);
// Conversation headers: composer id -> model and last update.
std::map<std::string, CursorSummary> cursorComposerHeaders(sqlite3* db);

// The turn of one message given as JSON text; none for a message without
// characters or tokens, or text that is not a JSON object.
std::optional<CursorTurn> cursorComposerTurn(std::string_view messageJSON);
// The model named in a JSON object ("modelType", "modelInfo", "modelConfig",
// "modelName"); none when it names none or the text is not an object.
std::optional<std::string> cursorModel(std::string_view objectJSON);
// A time from a decimal count (milliseconds above 10^12, else seconds) or an
// ISO 8601 text.
std::optional<Time> cursorParseDate(std::optional<std::string_view> text);
// The lenient integer of one JSON value given as text (0 when the text is not
// JSON); see records::jsonInt.
int64_t jsonInt(std::string_view valueJSON);

// Pairs each reply with the input turns before it; one event per pair with
// tokens. Turns after the last reply yield nothing.
std::vector<UsageEvent> cursorEvents(const std::vector<CursorTurn>& turns,
                                     const std::string& fallbackModel, Time fallbackTs);

}  // namespace brimvale
