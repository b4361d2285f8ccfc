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
// The event itself is built only for the rows that survive de-duplication;
// the model text is kept once per file.
struct Row {
  Time ts;
  int64_t tokens;
  double cost;
  uint32_t model;  // index into FileResult::models
  bool hasId;
  size_t idOffset;
  size_t idLength;
};

struct FileResult {
  std::string ids;
  std::vector<std::string> models;
  std::vector<Row> rows;

  uint32_t modelIndex(std::string_view model) {
    // Files hold one or a few models; the newest is the likeliest.
    for (size_t i = models.size(); i-- > 0;)
      if (models[i] == model) return static_cast<uint32_t>(i);
    models.emplace_back(model);
    return static_cast<uint32_t>(models.size() - 1);
  }
  UsageEvent event(const Row& row) const {
    return UsageEvent{row.ts, models[row.model], row.tokens, row.cost, "anthropic"};
  }
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

  Row row{*ts, *tokens, costUSD ? *costUSD : estimateCost(*model, input, output, cacheRead, cacheWrite),
          out.modelIndex(*model), id.has_value(), out.ids.size(), id ? id->size() : 0};
  if (id) out.ids.append(*id);
  out.rows.push_back(row);
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

  // The winner of each identifier, in order of first appearance.
  struct Ref {
    uint32_t file;
    uint32_t row;
  };
  size_t total = 0;
  for (const auto& r : results) total += r.rows.size();
  std::vector<Ref> winners;
  std::vector<Ref> withoutId;
  std::unordered_map<std::string_view, size_t> slot;  // id -> index in winners
  slot.reserve(total);
  for (uint32_t f = 0; f < results.size(); ++f) {
    const FileResult& result = results[f];
    for (uint32_t r = 0; r < result.rows.size(); ++r) {
      const Row& row = result.rows[r];
      if (!row.hasId) {
        withoutId.push_back({f, r});
        continue;
      }
      std::string_view id(result.ids.data() + row.idOffset, row.idLength);
      auto [it, fresh] = slot.try_emplace(id, winners.size());
      if (fresh) winners.push_back({f, r});
      else winners[it->second] = {f, r};  // the last line read wins
    }
  }
  std::vector<UsageEvent> byId;
  byId.reserve(winners.size() + withoutId.size());
  for (const Ref& ref : winners) byId.push_back(results[ref.file].event(results[ref.file].rows[ref.row]));
  for (const Ref& ref : withoutId) byId.push_back(results[ref.file].event(results[ref.file].rows[ref.row]));
  return byId;
}

}  // namespace brimvale
