#include "collection/readers/grok_usage.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <optional>

#include "collection/cost_estimation.h"
#include "collection/readers/record_support.h"
#include "collection/sqlite_copy.h"
#include "collection/store_error.h"

namespace brimvale {
namespace {

namespace od = simdjson::ondemand;
using records::addSaturating;

constexpr const char* kProvider = "xai";
constexpr const char* kFallbackModel = "grok";

std::string grokFolder(const std::string& home) { return home + "/.grok"; }

// Parses a file's text as one JSON object and hands it to read; false when it
// is no object.
template <typename Read>
bool withObject(records::JSONParser& parser, std::string_view text, Read&& read) {
  od::document doc;
  od::object object;
  if (parser.parse(text).get(doc) != simdjson::SUCCESS ||
      doc.get_object().get(object) != simdjson::SUCCESS)
    return false;
  read(object);
  return true;
}

// session folder name -> "current_model_id", for the sessions that name one.
std::map<std::string, std::string> sessionModels(const std::string& home) {
  std::map<std::string, std::string> models;
  const std::string sessions = grokFolder(home) + "/sessions";
  auto projects = records::listFolder(sessions);
  if (!projects) return models;
  records::JSONParser parser;
  for (const std::string& project : *projects) {
    auto names = records::listFolder(sessions + "/" + project);
    if (!names) continue;
    for (const std::string& name : *names) {
      auto text = records::readFile(sessions + "/" + project + "/" + name + "/summary.json");
      if (!text) continue;
      withObject(parser, *text, [&](od::object& summary) {
        auto model = records::stringField(summary, "current_model_id");
        if (model && !model->empty()) models[name] = std::string(*model);
      });
    }
  }
  return models;
}

struct UpdateCounts {
  int64_t input = 0;
  int64_t output = 0;
  int64_t reread = 0;
};

// The context counter of one session's updates. It only grows within a run;
// a drop below half the previous value means the tool started a fresh
// context, whose peak is added to the earlier runs' peaks.
UpdateCounts countUpdates(std::string_view text) {
  struct Prompt {
    int64_t first;
    int64_t last;
  };
  int64_t runTotal = 0;
  int64_t runMax = 0;
  int64_t previous = -1;
  std::map<std::string, Prompt> prompts;
  records::JSONParser parser;
  for (std::string_view line : records::splitLines(text, false)) {
    if (line.find("\"totalTokens\"") == std::string_view::npos) continue;
    od::document doc;
    od::object root;
    if (parser.parse(line).get(doc) != simdjson::SUCCESS ||
        doc.get_object().get(root) != simdjson::SUCCESS)
      continue;
    auto params = records::objectField(root, "params");
    if (!params) continue;
    auto meta = records::objectField(*params, "_meta");
    if (!meta) continue;
    std::optional<std::string> promptId;
    if (auto id = records::stringField(*meta, "promptId")) promptId.emplace(*id);
    auto total = records::integerField(*meta, "totalTokens");
    if (!total) continue;
    const int64_t t = *total;
    if (previous >= 0 && t < previous / 2) {
      runTotal = addSaturating(runTotal, runMax);
      runMax = 0;
    }
    runMax = std::max(runMax, t);
    if (promptId) {
      auto [it, inserted] = prompts.try_emplace(*promptId, Prompt{t, t});
      if (!inserted) it->second.last = t;
    }
    previous = t;
  }
  UpdateCounts counts;
  counts.input = addSaturating(runTotal, runMax);
  int64_t firstSum = 0;
  for (const auto& [id, prompt] : prompts) {
    firstSum = addSaturating(firstSum, prompt.first);
    if (prompt.last > prompt.first) counts.output = addSaturating(counts.output, prompt.last - prompt.first);
  }
  if (firstSum > counts.input) counts.reread = firstSum - counts.input;
  return counts;
}

}  // namespace

std::vector<UsageEvent> loadGrokDB(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT created_at, model, input_tokens, output_tokens, total_tokens, "
                         "cost_micros FROM usage_events",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    throw StoreError::sqlite(message);
  }
  std::vector<UsageEvent> events;
  int rc = 0;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* created = sqlite3_column_text(stmt, 0);
    if (!created) continue;
    auto ts = parseISO8601(std::string_view(reinterpret_cast<const char*>(created),
                                            static_cast<size_t>(sqlite3_column_bytes(stmt, 0))));
    if (!ts) continue;
    const int64_t input = sqlite3_column_int64(stmt, 2);
    const int64_t output = sqlite3_column_int64(stmt, 3);
    const int64_t total = sqlite3_column_int64(stmt, 4);
    const int64_t tokens = std::max(total, addSaturating(input, output));
    if (tokens < 1) continue;
    UsageEvent event;
    event.ts = *ts;
    const unsigned char* model = sqlite3_column_text(stmt, 1);
    event.model = model ? std::string(reinterpret_cast<const char*>(model),
                                      static_cast<size_t>(sqlite3_column_bytes(stmt, 1)))
                        : kFallbackModel;
    event.tokens = tokens;
    const double micros = sqlite3_column_double(stmt, 5);
    event.cost = micros > 0 ? micros / 1'000'000 : estimateCost(event.model, input, output, 0, 0);
    event.provider = kProvider;
    events.push_back(std::move(event));
  }
  std::string message = sqlite3_errmsg(sqlite3_db_handle(stmt));
  sqlite3_finalize(stmt);
  // A table that breaks off half way (a corrupt page) is a failure, not a
  // silently shorter list.
  if (rc != SQLITE_DONE) throw StoreError::sqlite(message);
  return events;
}

GrokLogLoad loadGrokOfficialLogs(const std::string& home, Time now) {
  GrokLogLoad load;
  const std::string logs = grokFolder(home) + "/logs";
  auto names = records::listFolder(logs);
  if (!names) return load;
  const auto models = sessionModels(home);
  records::JSONParser parser;
  for (const std::string& name : *names) {
    if (!records::endsWith(name, ".jsonl")) continue;
    auto text = records::readFile(logs + "/" + name);
    if (!text || !records::validUTF8(*text)) continue;
    for (std::string_view line : records::splitLines(*text, false)) {
      if (line.find("inference_done") == std::string_view::npos ||
          line.find("prompt_tokens") == std::string_view::npos)
        continue;
      od::document doc;
      od::object root;
      if (parser.parse(line).get(doc) != simdjson::SUCCESS ||
          doc.get_object().get(root) != simdjson::SUCCESS)
        continue;
      if (records::stringField(root, "msg") != std::string_view("shell.turn.inference_done"))
        continue;
      std::optional<Time> ts;
      if (auto text = records::stringField(root, "ts")) ts = parseISO8601(*text);
      std::string sid(records::stringField(root, "sid").value_or(""));
      auto ctx = records::objectField(root, "ctx");
      if (!ctx) continue;
      const int64_t prompt = records::jsonIntField(*ctx, "prompt_tokens");
      const int64_t cachedRaw = records::jsonIntField(*ctx, "cached_prompt_tokens");
      const int64_t completion = records::jsonIntField(*ctx, "completion_tokens");
      // Cached tokens are part of the prompt; a negative count is noise.
      const int64_t cached = std::clamp<int64_t>(cachedRaw, 0, std::max<int64_t>(prompt, 0));
      const int64_t tokens = addSaturating(completion, prompt);
      if (tokens < 1) continue;
      if (!sid.empty()) load.sessions.insert(sid);
      UsageEvent event;
      event.ts = ts.value_or(now);
      auto model = models.find(sid);
      event.model = model != models.end() ? model->second : kFallbackModel;
      event.tokens = tokens;
      event.cost = estimateCost(event.model, prompt - cached, completion, cached, 0);
      event.provider = kProvider;
      load.events.push_back(std::move(event));
    }
  }
  return load;
}

std::vector<UsageEvent> loadGrokBuildSessions(const std::string& home,
                                              const std::set<std::string>& excluded, Time now) {
  std::vector<UsageEvent> events;
  const std::string sessions = grokFolder(home) + "/sessions";
  auto projects = records::listFolder(sessions);
  if (!projects) return events;
  records::JSONParser parser;
  for (const std::string& project : *projects) {
    auto names = records::listFolder(sessions + "/" + project);
    if (!names) continue;
    for (const std::string& name : *names) {
      if (excluded.count(name)) continue;
      const std::string folder = sessions + "/" + project + "/" + name;
      auto summaryText = records::readFile(folder + "/summary.json");
      auto updates = records::readFile(folder + "/updates.jsonl");
      if (!summaryText || !updates || !records::validUTF8(*updates)) continue;

      std::optional<std::string> model;
      std::optional<std::string> timeText;
      bool isObject = withObject(parser, *summaryText, [&](od::object& summary) {
        if (auto id = records::stringField(summary, "current_model_id")) model.emplace(*id);
        for (const char* key : {"updated_at", "last_active_at", "created_at"}) {
          if (auto text = records::stringField(summary, key)) {
            timeText.emplace(*text);
            break;
          }
        }
      });
      if (!isObject) continue;

      const UpdateCounts counts = countUpdates(*updates);
      if (addSaturating(counts.input, counts.output) < 1) continue;
      std::optional<Time> ts;
      if (timeText) ts = parseISO8601(*timeText);
      if (!ts) ts = records::modificationTime(folder + "/updates.jsonl");

      UsageEvent event;
      event.ts = ts.value_or(now);
      event.model = model.value_or(kFallbackModel);
      event.tokens = addSaturating(addSaturating(counts.input, counts.reread), counts.output);
      event.cost = estimateCost(event.model, counts.input, counts.output, counts.reread, 0);
      event.provider = kProvider;
      events.push_back(std::move(event));
    }
  }
  return events;
}

std::vector<UsageEvent> loadGrokUsage(const std::string& home, Time now) {
  std::vector<UsageEvent> events;
  const std::string database = grokFolder(home) + "/grok.db";
  if (records::fileExists(database)) events = withSQLiteCopy(database, "grok", loadGrokDB);
  GrokLogLoad logs = loadGrokOfficialLogs(home, now);
  events.insert(events.end(), std::make_move_iterator(logs.events.begin()),
                std::make_move_iterator(logs.events.end()));
  auto sessions = loadGrokBuildSessions(home, logs.sessions, now);
  events.insert(events.end(), std::make_move_iterator(sessions.begin()),
                std::make_move_iterator(sessions.end()));
  return events;
}

std::vector<UsageEvent> loadGrokUsage(const std::string& home) {
  return loadGrokUsage(home, Clock::now());
}

}  // namespace brimvale
