#include "collection/readers/claude_projects.h"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "collection/cost_estimation.h"
#include "collection/readers/jsonl_lines.h"

namespace brimvale {
namespace {

namespace ondemand = simdjson::ondemand;
using jsonl::countValue;
using jsonl::stringValue;

// One counting line of one file. The identifier lives in the file's id text
// (ids), so the read buffer can be reused for the next file.
struct Row {
  UsageEvent event;
  size_t idOffset = 0;
  size_t idLength = 0;
  bool hasId = false;
};

struct FileResult {
  std::string ids;
  std::vector<Row> rows;
};

// Reads one line. Keys are matched on their raw bytes, which is why the
// "\"usage\"" prefilter can never drop a line this would accept. The object
// is walked once, front to back, touching only the keys below; everything
// else is skipped without being decoded.
void readLine(ondemand::parser& parser, simdjson::padded_string_view line, FileResult& out) {
  ondemand::document doc;
  if (parser.iterate(line).get(doc)) return;
  ondemand::object object;
  if (doc.get_object().get(object)) return;

  bool assistant = false;
  bool messageObject = false;
  std::optional<std::string_view> model, id, timestamp;
  bool usageObject = false;
  int64_t input = 0, output = 0, cacheRead = 0, cacheWrite = 0;
  std::optional<double> costUSD;

  for (auto item : object) {
    if (item.error()) return;
    ondemand::field field = item.value_unsafe();
    simdjson::ondemand::raw_json_string key = field.key();
    ondemand::value value = field.value();
    if (key == "type") {
      auto s = stringValue(value);
      assistant = s && *s == "assistant";
      if (!assistant) return;  // a "user" line or anything else never counts
    } else if (key == "message") {
      ondemand::object message;
      messageObject = !value.get_object().get(message);
      if (!messageObject) return;
      model.reset();
      id.reset();
      usageObject = false;
      for (auto mitem : message) {
        if (mitem.error()) return;
        ondemand::field mfield = mitem.value_unsafe();
        simdjson::ondemand::raw_json_string mkey = mfield.key();
        ondemand::value mvalue = mfield.value();
        if (mkey == "model") {
          model = stringValue(mvalue);
        } else if (mkey == "id") {
          id = stringValue(mvalue);
        } else if (mkey == "usage") {
          ondemand::object usage;
          usageObject = !mvalue.get_object().get(usage);
          if (!usageObject) return;
          input = output = cacheRead = cacheWrite = 0;
          for (auto uitem : usage) {
            if (uitem.error()) return;
            ondemand::field ufield = uitem.value_unsafe();
            simdjson::ondemand::raw_json_string ukey = ufield.key();
            ondemand::value uvalue = ufield.value();
            if (ukey == "input_tokens") input = countValue(uvalue);
            else if (ukey == "output_tokens") output = countValue(uvalue);
            else if (ukey == "cache_read_input_tokens") cacheRead = countValue(uvalue);
            else if (ukey == "cache_creation_input_tokens") cacheWrite = countValue(uvalue);
          }
        }
      }
    } else if (key == "timestamp") {
      timestamp = stringValue(value);
    } else if (key == "costUSD") {
      costUSD = jsonl::numberValue(value);
    }
  }
  // Trailing bytes after the object make the line invalid JSON.
  if (!jsonl::atEnd(doc)) return;

  if (!assistant || !messageObject || !model || *model == "<synthetic>" || !usageObject ||
      !timestamp)
    return;
  std::optional<Time> ts = parseISO8601Fractional(*timestamp);
  if (!ts) ts = parseISO8601Plain(*timestamp);
  if (!ts) return;
  // A sum that does not fit is no real count; the line is dropped.
  std::optional<int64_t> tokens = jsonl::checkedSum({input, output, cacheRead, cacheWrite});
  if (!tokens || *tokens < 1) return;

  Row row;
  row.event.ts = *ts;
  row.event.model = std::string(*model);
  row.event.tokens = *tokens;
  row.event.cost = costUSD ? *costUSD : estimateCost(*model, input, output, cacheRead, cacheWrite);
  row.event.provider = "anthropic";
  if (id) {
    row.hasId = true;
    row.idOffset = out.ids.size();
    row.idLength = id->size();
    out.ids.append(*id);
  }
  out.rows.push_back(std::move(row));
}

void readFile(const std::string& path, jsonl::FileBuffer& buffer, ondemand::parser& parser,
              FileResult& out) {
  // Every counting line holds a "usage" key; other lines (user turns, tool
  // results, summaries) are passed over without being split out.
  buffer.readPieces(path, [&](std::string_view piece) {
    jsonl::forEachLineContaining(piece, {"\"usage\""}, [&](std::string_view line) {
      readLine(parser, buffer.padded(line), out);
    });
  });
}

}  // namespace

std::vector<UsageEvent> loadClaudeProjects(const std::string& home) {
  if (home.empty()) return {};
  std::vector<std::string> files = jsonl::findFiles(
      home + "/.claude/projects", [](std::string_view rel) { return jsonl::endsWith(rel, ".jsonl"); });
  if (files.empty()) return {};

  // Files are parsed independently, then merged in their sorted order, which
  // gives the same result as reading them one after the other.
  std::vector<FileResult> results(files.size());
  size_t workers = std::min(jsonl::workerCount(), files.size());
  std::vector<jsonl::FileBuffer> buffers(workers);
  std::vector<ondemand::parser> parsers(workers);
  std::vector<size_t> order = workers > 1 ? jsonl::largestFirst(jsonl::fileSizes(files)) : std::vector<size_t>{};
  jsonl::parallelFor(files.size(), workers, [&](size_t k, size_t w) {
    size_t i = order.empty() ? k : order[k];
    readFile(files[i], buffers[w], parsers[w], results[i]);
  });
  buffers.clear();
  parsers.clear();

  size_t total = 0;
  for (const auto& r : results) total += r.rows.size();
  std::vector<UsageEvent> byId;
  std::vector<UsageEvent> withoutId;
  byId.reserve(total);
  std::unordered_map<std::string_view, size_t> slot;  // id -> index in byId
  slot.reserve(total);
  for (auto& result : results) {
    for (auto& row : result.rows) {
      if (!row.hasId) {
        withoutId.push_back(std::move(row.event));
        continue;
      }
      std::string_view id(result.ids.data() + row.idOffset, row.idLength);
      auto [it, fresh] = slot.try_emplace(id, byId.size());
      if (fresh) byId.push_back(std::move(row.event));
      else byId[it->second] = std::move(row.event);  // the last line read wins
    }
    result.rows.clear();
    result.rows.shrink_to_fit();
  }
  slot.clear();
  byId.insert(byId.end(), std::make_move_iterator(withoutId.begin()),
              std::make_move_iterator(withoutId.end()));
  return byId;
}

}  // namespace brimvale
