#include "collection/readers/gjc_stats.h"

#include <sqlite3.h>

#include <unordered_map>
#include <utility>

#include "collection/cost_estimation.h"
#include "collection/readers/record_support.h"
#include "collection/sqlite_copy.h"
#include "collection/store_error.h"

namespace brimvale {
namespace {

namespace od = simdjson::ondemand;
using records::addSaturating;

struct DatabaseLoad {
  std::vector<UsageEvent> events;
  std::map<std::string, uint64_t> offsets;
};

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

DatabaseLoad readDatabase(sqlite3* db) {
  DatabaseLoad load;
  Statement replies;
  bool withProvider = true;
  if (sqlite3_prepare_v2(db,
                         "SELECT timestamp, model, total_tokens, cost_total, provider FROM messages",
                         -1, &replies.stmt, nullptr) != SQLITE_OK) {
    withProvider = false;
    sqlite3_finalize(replies.stmt);
    replies.stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT timestamp, model, total_tokens, cost_total FROM messages",
                           -1, &replies.stmt, nullptr) != SQLITE_OK)
      throw StoreError::sqlite(sqlite3_errmsg(db));
  }
  int rc = 0;
  while ((rc = sqlite3_step(replies.stmt)) == SQLITE_ROW) {
    if (sqlite3_column_type(replies.stmt, 1) == SQLITE_NULL) continue;
    auto ts = records::timeFromMillis(sqlite3_column_int64(replies.stmt, 0));
    if (!ts) continue;  // beyond any time we can represent
    UsageEvent event;
    event.ts = *ts;
    event.model = columnText(replies.stmt, 1);
    event.tokens = sqlite3_column_int64(replies.stmt, 2);
    event.cost = sqlite3_column_double(replies.stmt, 3);
    if (withProvider) event.provider = columnText(replies.stmt, 4);
    load.events.push_back(std::move(event));
  }
  // A database that breaks off half way (a corrupt page) is an error, not a
  // silently shorter list.
  if (rc != SQLITE_DONE) throw StoreError::sqlite(sqlite3_errmsg(db));

  Statement offsets;
  if (sqlite3_prepare_v2(db, "SELECT session_file, offset FROM file_offsets", -1, &offsets.stmt,
                         nullptr) == SQLITE_OK) {
    while (sqlite3_step(offsets.stmt) == SQLITE_ROW) {
      if (sqlite3_column_type(offsets.stmt, 0) == SQLITE_NULL) continue;
      int64_t offset = sqlite3_column_int64(offsets.stmt, 1);
      if (offset < 0) continue;  // no byte position; the file is read from its start
      load.offsets[columnText(offsets.stmt, 0)] = static_cast<uint64_t>(offset);
    }
  }
  return load;
}

// Events keyed by record identifier, in the order each identifier was first
// seen; a later record with the same identifier replaces the earlier one.
class EventCollector {
 public:
  void add(std::optional<std::string> id, UsageEvent event) {
    if (!id) {
      loose_.push_back(std::move(event));
      return;
    }
    auto [it, inserted] = index_.try_emplace(std::move(*id), keyed_.size());
    if (inserted) {
      keyed_.push_back(std::move(event));
    } else {
      keyed_[it->second] = std::move(event);
    }
  }
  std::vector<UsageEvent> take() {
    std::vector<UsageEvent> all = std::move(keyed_);
    all.insert(all.end(), std::make_move_iterator(loose_.begin()),
               std::make_move_iterator(loose_.end()));
    return all;
  }

 private:
  std::unordered_map<std::string, size_t> index_;
  std::vector<UsageEvent> keyed_;
  std::vector<UsageEvent> loose_;
};

void readSessionLine(records::JSONParser& parser, std::string_view line, EventCollector& out) {
  od::document doc;
  if (parser.parse(line).get(doc) != simdjson::SUCCESS) return;
  od::object root;
  if (doc.get_object().get(root) != simdjson::SUCCESS) return;
  if (records::stringField(root, "type") != std::string_view("message")) return;
  std::optional<std::string> id;
  if (auto text = records::stringField(root, "id")) id.emplace(*text);
  std::optional<std::string> timestamp;
  if (auto text = records::stringField(root, "timestamp")) timestamp.emplace(*text);

  auto message = records::objectField(root, "message");
  if (!message) return;
  if (records::stringField(*message, "role") != std::string_view("assistant")) return;
  auto modelText = records::stringField(*message, "model");
  if (!modelText) return;
  std::string model(*modelText);
  std::string provider(records::stringField(*message, "provider").value_or(""));
  if (!timestamp) {
    if (auto text = records::stringField(*message, "timestamp")) timestamp.emplace(*text);
  }
  auto usage = records::objectField(*message, "usage");
  if (!usage || !timestamp) return;
  auto ts = parseISO8601(*timestamp);
  if (!ts) return;

  const int64_t input = records::integerField(*usage, "input").value_or(0);
  const int64_t output = records::integerField(*usage, "output").value_or(0);
  const int64_t cacheRead = records::integerField(*usage, "cacheRead").value_or(0);
  const int64_t cacheWrite = records::integerField(*usage, "cacheWrite").value_or(0);
  int64_t tokens = 0;
  if (auto total = records::integerField(*usage, "totalTokens")) {
    tokens = *total;
  } else {
    tokens = addSaturating(addSaturating(input, output), addSaturating(cacheRead, cacheWrite));
  }
  if (tokens < 1) return;
  std::optional<double> cost;
  if (auto breakdown = records::objectField(*usage, "cost")) cost = records::numberField(*breakdown, "total");

  UsageEvent event;
  event.ts = *ts;
  event.model = std::move(model);
  event.tokens = tokens;
  event.cost = cost ? *cost : estimateCost(event.model, input, output, cacheRead, cacheWrite);
  event.provider = std::move(provider);
  out.add(std::move(id), std::move(event));
}

}  // namespace

std::vector<UsageEvent> loadGJCSessionEvents(const std::string& root,
                                             const std::map<std::string, uint64_t>& offsets) {
  auto files = records::findFiles(root);
  if (!files) return {};
  EventCollector collector;
  records::JSONParser parser;
  for (const std::string& relative : *files) {
    if (!records::endsWith(relative, ".jsonl")) continue;
    const std::string path = root + "/" + relative;
    auto found = offsets.find(path);
    const uint64_t start = found == offsets.end() ? 0 : found->second;
    auto text = records::readFile(path, start);
    if (!text || text->empty()) continue;
    // Each line is checked for UTF-8 on its own (the JSON parser does it), so
    // an offset inside a character or one bad byte costs that line only.
    for (std::string_view line : records::splitLines(*text, false)) {
      readSessionLine(parser, line, collector);
    }
  }
  return collector.take();
}

std::vector<UsageEvent> loadGJCStats(const std::string& home) {
  const std::string database = home + "/.gjc/stats.db";
  const std::string sessions = home + "/.gjc/agent/sessions";
  if (!records::fileExists(database)) return loadGJCSessionEvents(sessions, {});
  DatabaseLoad load = withSQLiteCopy(database, "gjc", readDatabase);
  std::vector<UsageEvent> events = std::move(load.events);
  std::vector<UsageEvent> tail = loadGJCSessionEvents(sessions, load.offsets);
  events.insert(events.end(), std::make_move_iterator(tail.begin()),
                std::make_move_iterator(tail.end()));
  return events;
}

}  // namespace brimvale
