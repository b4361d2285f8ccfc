#pragma once
// The Cursor agent's conversation transcripts under
// home/.cursor/projects/<project>/agent-transcripts, as JSON lines or plain
// text. They hold no token counts and no times: tokens are estimated from
// characters, model and time come from the AI code-tracking database when it
// knows the conversation.

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "collection/readers/cursor_sessions.h"

struct sqlite3;

namespace brimvale {

// Events of every transcript whose conversation id is not in `excluded`;
// adds each conversation id it reads to `excluded`, so a conversation held by
// several projects is read once (from the project listed first). Never fails.
std::vector<UsageEvent> loadCursorTranscriptEvents(const std::string& home,
                                                   std::set<std::string>& excluded, Time now);

// conversation id -> model and last update, from the code-tracking database;
// empty when its table cannot be read.
std::map<std::string, CursorSummary> loadCursorSummaries(sqlite3* db);

// The turns of one transcript, in file order, without counts, model or time.
std::vector<CursorTurn> cursorJSONLTurns(std::string_view text);
std::vector<CursorTurn> cursorTextTurns(std::string_view text);

}  // namespace brimvale
