#include "collection/readers/cursor_transcripts.h"

#include <sqlite3.h>

#include <utility>

#include "collection/readers/record_support.h"
#include "collection/sqlite_copy.h"
#include "collection/store_error.h"

namespace brimvale {
namespace {

namespace od = simdjson::ondemand;
using records::addSaturating;

// Characters of the "text" strings of the "content" elements of type "text".
int64_t contentCharacters(od::object& message) {
  auto content = records::field(message, "content");
  od::array elements;
  if (!content || content->get_array().get(elements) != simdjson::SUCCESS) return 0;
  int64_t count = 0;
  for (auto element : elements) {
    od::object part;
    if (element.get_object().get(part) != simdjson::SUCCESS) continue;
    if (records::stringField(part, "type") != std::string_view("text")) continue;
    if (auto text = records::stringField(part, "text"))
      count = addSaturating(count, records::characterCount(*text));
  }
  return count;
}

bool startsWithUserLabel(std::string_view t) {
  static constexpr std::string_view kLabel = "user:";
  if (t.size() < kLabel.size()) return false;
  for (size_t i = 0; i < kLabel.size(); ++i) {
    char c = t[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kLabel[i]) return false;
  }
  return true;
}

}  // namespace

std::vector<CursorTurn> cursorJSONLTurns(std::string_view text) {
  std::vector<CursorTurn> turns;
  int64_t pending = 0;
  records::JSONParser parser;
  for (std::string_view line : records::splitLines(text, false)) {
    od::document doc;
    od::object root;
    if (parser.parse(line).get(doc) != simdjson::SUCCESS ||
        doc.get_object().get(root) != simdjson::SUCCESS)
      continue;
    auto role = records::stringField(root, "role");
    if (!role) continue;
    std::string roleName(*role);
    auto message = records::objectField(root, "message");
    if (!message) continue;
    const int64_t count = contentCharacters(*message);
    if (roleName == "user") {
      pending = addSaturating(pending, count);
    } else if (roleName == "assistant") {
      CursorTurn turn;
      turn.inputChars = pending;
      turn.outputChars = count;
      turns.push_back(turn);
      pending = 0;
    }
  }
  return turns;
}

std::vector<CursorTurn> cursorTextTurns(std::string_view text) {
  enum class Block { none, user, reply };
  std::vector<CursorTurn> turns;
  Block block = Block::none;
  int64_t blockChars = 0;
  int64_t pending = 0;
  auto close = [&] {
    if (block == Block::user) {
      pending = addSaturating(pending, blockChars);
    } else if (block == Block::reply) {
      CursorTurn turn;
      turn.inputChars = pending;
      turn.outputChars = blockChars;
      turns.push_back(turn);
      pending = 0;
    }
    block = Block::none;
    blockChars = 0;
  };
  for (std::string_view line : records::splitLines(text, true)) {
    const std::string_view t = records::trimBlanks(line);
    if (startsWithUserLabel(t)) {
      close();
      block = Block::user;
      blockChars = std::max<int64_t>(0, records::characterCount(t) - 5);
    } else if (records::startsWith(t, "A:")) {
      close();
      block = Block::reply;
      blockChars = std::max<int64_t>(0, records::characterCount(t) - 2);
    } else if (block == Block::reply &&
               (records::startsWith(t, "[Tool call]") || records::startsWith(t, "[Tool result]"))) {
      continue;
    } else if (block != Block::none) {
      blockChars = addSaturating(blockChars, records::characterCount(t));
    }
  }
  close();
  return turns;
}

std::map<std::string, CursorSummary> loadCursorSummaries(sqlite3* db) {
  std::map<std::string, CursorSummary> summaries;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT conversationId, model, updatedAt FROM conversation_summaries",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return summaries;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const unsigned char* id = sqlite3_column_text(stmt, 0);
    if (!id) continue;
    CursorSummary summary;
    if (const unsigned char* model = sqlite3_column_text(stmt, 1))
      summary.model = std::string(reinterpret_cast<const char*>(model),
                                  static_cast<size_t>(sqlite3_column_bytes(stmt, 1)));
    const int64_t updated = sqlite3_column_int64(stmt, 2);
    if (updated > 0) summary.updatedAt = records::timeFromMillis(updated);
    summaries[std::string(reinterpret_cast<const char*>(id),
                          static_cast<size_t>(sqlite3_column_bytes(stmt, 0)))] = std::move(summary);
  }
  sqlite3_finalize(stmt);
  return summaries;
}

std::vector<UsageEvent> loadCursorTranscriptEvents(const std::string& home,
                                                   std::set<std::string>& excluded, Time now) {
  const std::string projectsFolder = home + "/.cursor/projects";
  auto projects = records::listFolder(projectsFolder);
  if (!projects) return {};

  std::map<std::string, CursorSummary> summaries;
  const std::string database = home + "/.cursor/ai-tracking/ai-code-tracking.db";
  if (records::fileExists(database)) {
    try {
      summaries = withSQLiteCopy(database, "cursor", loadCursorSummaries);
    } catch (const StoreError&) {
      summaries.clear();  // times and models then come from the files
    }
  }

  std::vector<UsageEvent> events;
  for (const std::string& project : *projects) {
    const std::string folder = projectsFolder + "/" + project + "/agent-transcripts";
    auto files = records::findFiles(folder);
    if (!files) continue;
    std::vector<std::string> transcripts;
    std::set<std::string> jsonlStems;
    for (const std::string& relative : *files) {
      if (records::endsWith(relative, ".jsonl")) {
        transcripts.push_back(relative);
        jsonlStems.insert(relative.substr(0, relative.size() - 6));
      } else if (records::endsWith(relative, ".txt")) {
        transcripts.push_back(relative);
      }
    }
    for (const std::string& relative : transcripts) {
      const bool jsonl = records::endsWith(relative, ".jsonl");
      const std::string stem = relative.substr(0, relative.size() - (jsonl ? 6 : 4));
      if (!jsonl && jsonlStems.count(stem)) continue;  // the JSON-lines copy is used
      const size_t slash = stem.rfind('/');
      std::string id = slash == std::string::npos ? stem : stem.substr(slash + 1);
      if (!excluded.insert(id).second) continue;

      const std::string path = folder + "/" + relative;
      auto text = records::readFile(path);
      if (!text || !records::validUTF8(*text)) continue;

      std::string model = kCursorFallbackModel;
      std::optional<Time> ts;
      if (auto summary = summaries.find(id); summary != summaries.end()) {
        if (summary->second.model) model = *summary->second.model;
        ts = summary->second.updatedAt;
      }
      if (!ts) ts = records::modificationTime(path);
      auto turns = jsonl ? cursorJSONLTurns(*text) : cursorTextTurns(*text);
      auto found = cursorEvents(turns, model, ts.value_or(now));
      events.insert(events.end(), std::make_move_iterator(found.begin()),
                    std::make_move_iterator(found.end()));
    }
  }
  return events;
}

}  // namespace brimvale
