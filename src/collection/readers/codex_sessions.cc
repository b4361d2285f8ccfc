#include "collection/readers/codex_sessions.h"

#include <cmath>
#include <mutex>
#include <unordered_map>

#include "collection/cost_estimation.h"
#include "collection/readers/jsonl_lines.h"

namespace brimvale {
namespace {

namespace ondemand = simdjson::ondemand;
using jsonl::countValue;
using jsonl::integralValue;
using jsonl::numberValue;
using jsonl::stringValue;

// The raw fields of one window object under "primary" or "secondary".
struct WindowFields {
  std::optional<double> usedPercent;
  std::optional<int64_t> windowMinutes;
  std::optional<double> resetsAt;
  std::optional<double> resetsInSeconds;
};

struct RateLimitFields {
  std::optional<WindowFields> primary, secondary;  // absent: missing or not an object
};

// Reads a window object; false on a structural error of the line.
bool readWindow(ondemand::value value, std::optional<WindowFields>& out) {
  out.reset();
  ondemand::object object;
  if (value.get_object().get(object)) return true;  // not an object: no window
  WindowFields w;
  for (auto item : object) {
    if (item.error()) return false;
    ondemand::field field = item.value_unsafe();
    simdjson::ondemand::raw_json_string key = field.key();
    ondemand::value v = field.value();
    if (key == "used_percent") w.usedPercent = numberValue(v);
    else if (key == "window_minutes") w.windowMinutes = integralValue(v);
    else if (key == "resets_at") w.resetsAt = numberValue(v);
    else if (key == "resets_in_seconds") w.resetsInSeconds = numberValue(v);
  }
  out = w;
  return true;
}

bool readRateLimits(ondemand::object object, RateLimitFields& out) {
  out = {};
  for (auto item : object) {
    if (item.error()) return false;
    ondemand::field field = item.value_unsafe();
    simdjson::ondemand::raw_json_string key = field.key();
    if (key == "primary") {
      if (!readWindow(field.value(), out.primary)) return false;
    } else if (key == "secondary") {
      if (!readWindow(field.value(), out.secondary)) return false;
    }
  }
  return true;
}

// Seconds beyond about 3000 years either way are no real reset time (and
// would overflow the clock's representation).
constexpr double kMaxSeconds = 1e11;

std::optional<Time> timeFromUnix(double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxSeconds) return std::nullopt;
  return fromUnixSeconds(seconds);
}

std::optional<Time> timeAfter(Time base, double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxSeconds) return std::nullopt;
  return base + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::optional<LimitWindow> windowFrom(const std::optional<WindowFields>& fields, Time recordTime) {
  if (!fields || !fields->usedPercent || !fields->windowMinutes) return std::nullopt;
  LimitWindow w;
  int64_t minutes = *fields->windowMinutes;
  if (minutes <= 360) {
    w.id = "5h";
    w.label = "GPT 5 Hour";
  } else if (minutes == 10080) {
    w.id = "7d";
    w.label = "GPT Weekly";
  } else {
    return std::nullopt;
  }
  w.usedFraction = *fields->usedPercent / 100.0;
  if (fields->resetsAt) w.resetsAt = timeFromUnix(*fields->resetsAt);
  else if (fields->resetsInSeconds) w.resetsAt = timeAfter(recordTime, *fields->resetsInSeconds);
  w.asOf = recordTime;
  return w;
}

std::vector<LimitWindow> windowsFrom(const RateLimitFields& fields, Time recordTime) {
  std::vector<LimitWindow> out;
  if (auto w = windowFrom(fields.primary, recordTime)) out.push_back(std::move(*w));
  if (auto w = windowFrom(fields.secondary, recordTime)) {
    bool taken = false;
    for (const auto& have : out) taken = taken || have.id == w->id;
    if (!taken) out.push_back(std::move(*w));
  }
  return out;
}

// Per-file parsing state.
struct RolloutState {
  std::string model = "gpt";
  CodexRollout result;
};

void readLine(ondemand::parser& parser, simdjson::padded_string_view line, RolloutState& state) {
  ondemand::document doc;
  if (parser.iterate(line).get(doc)) return;
  ondemand::object object;
  if (doc.get_object().get(object)) return;

  std::optional<std::string_view> lineType, timestamp, payloadType, payloadModel;
  bool payloadObject = false;
  bool haveUsage = false;
  int64_t input = 0, cached = 0, output = 0;
  std::optional<int64_t> total;
  bool haveRateLimits = false;
  RateLimitFields rates;

  for (auto item : object) {
    if (item.error()) return;
    ondemand::field field = item.value_unsafe();
    simdjson::ondemand::raw_json_string key = field.key();
    ondemand::value value = field.value();
    if (key == "type") {
      lineType = stringValue(value);
    } else if (key == "timestamp") {
      timestamp = stringValue(value);
    } else if (key == "payload") {
      ondemand::object payload;
      payloadObject = !value.get_object().get(payload);
      if (!payloadObject) return;
      for (auto pitem : payload) {
        if (pitem.error()) return;
        ondemand::field pfield = pitem.value_unsafe();
        simdjson::ondemand::raw_json_string pkey = pfield.key();
        ondemand::value pvalue = pfield.value();
        if (pkey == "type") {
          payloadType = stringValue(pvalue);
        } else if (pkey == "model") {
          payloadModel = stringValue(pvalue);
        } else if (pkey == "info") {
          ondemand::object info;
          if (pvalue.get_object().get(info)) continue;  // null info: no usage
          for (auto iitem : info) {
            if (iitem.error()) return;
            ondemand::field ifield = iitem.value_unsafe();
            if (ifield.key() != "last_token_usage") continue;
            ondemand::object usage;
            if (ifield.value().get_object().get(usage)) continue;
            haveUsage = true;
            input = cached = output = 0;
            total.reset();
            for (auto uitem : usage) {
              if (uitem.error()) return;
              ondemand::field ufield = uitem.value_unsafe();
              simdjson::ondemand::raw_json_string ukey = ufield.key();
              ondemand::value uvalue = ufield.value();
              if (ukey == "input_tokens") input = countValue(uvalue);
              else if (ukey == "cached_input_tokens") cached = countValue(uvalue);
              else if (ukey == "output_tokens") output = countValue(uvalue);
              else if (ukey == "total_tokens") total = integralValue(uvalue);
            }
          }
        } else if (pkey == "rate_limits") {
          ondemand::object limits;
          if (pvalue.get_object().get(limits)) continue;
          haveRateLimits = true;
          if (!readRateLimits(limits, rates)) return;
        }
      }
    }
  }
  if (!jsonl::atEnd(doc) || !payloadObject) return;

  if (lineType && *lineType == "turn_context") {
    if (payloadModel) state.model = std::string(*payloadModel);
    return;
  }
  if (!payloadType || *payloadType != "token_count" || !timestamp) return;
  std::optional<Time> ts = parseISO8601Fractional(*timestamp);
  if (!ts) ts = parseISO8601Plain(*timestamp);
  if (!ts) return;

  if (haveUsage) {
    std::optional<int64_t> tokens = total ? total : jsonl::checkedAdd(input, output);
    int64_t fresh;
    // Counts that do not fit a 64-bit integer are no real record.
    if (tokens && *tokens >= 1 && !__builtin_sub_overflow(input, cached, &fresh)) {
      UsageEvent event;
      event.ts = *ts;
      event.model = state.model;
      event.tokens = *tokens;
      event.cost = estimateCost(state.model, std::max<int64_t>(0, fresh), output, cached, 0);
      event.provider = "openai";
      state.result.events.push_back(std::move(event));
    }
  }
  auto& newest = state.result.newestLimits;
  if (haveRateLimits && (!newest || *ts > newest->ts)) {
    std::vector<LimitWindow> windows = windowsFrom(rates, *ts);
    if (!windows.empty()) newest = CodexLimits{*ts, std::move(windows)};
  }
}

CodexRollout parseRollout(const std::string& path, jsonl::FileBuffer& buffer,
                          ondemand::parser& parser) {
  RolloutState state;
  // Only these two record kinds matter; the test runs on raw bytes before
  // any parsing.
  buffer.readPieces(path, [&](std::string_view piece) {
    jsonl::forEachLineContaining(piece, {"\"token_count\"", "\"turn_context\""},
                                 [&](std::string_view line) { readLine(parser, buffer.padded(line), state); });
  });
  return std::move(state.result);
}

}  // namespace

CodexRollout parseCodexRollout(const std::string& path) {
  jsonl::FileBuffer buffer;
  ondemand::parser parser;
  return parseRollout(path, buffer, parser);
}

std::vector<LimitWindow> codexWindows(std::string_view rateLimitsJSON, Time recordTime) {
  simdjson::padded_string text(rateLimitsJSON);
  ondemand::parser parser;
  ondemand::document doc;
  if (parser.iterate(text).get(doc)) return {};
  ondemand::object object;
  if (doc.get_object().get(object)) return {};
  RateLimitFields fields;
  if (!readRateLimits(object, fields) || !jsonl::atEnd(doc)) return {};
  return windowsFrom(fields, recordTime);
}

CodexData loadCodexSessions(const std::string& home, Time now) {
  // The cache lives for the process; the lock makes overlapping calls safe
  // (the refresh cycle itself never overlaps).
  static std::mutex lock;
  static std::unordered_map<std::string, CodexFileCache> codexCache;
  std::lock_guard guard(lock);

  if (home.empty()) return {};
  std::vector<std::string> files = jsonl::findFiles(
      home + "/.codex/sessions", [](std::string_view rel) { return jsonl::endsWith(rel, ".jsonl"); });

  // The one size lookup an unchanged file costs.
  std::vector<uint64_t> sizes = jsonl::fileSizes(files);
  std::vector<size_t> stale;  // indices of files to parse
  for (size_t i = 0; i < files.size(); ++i) {
    auto it = codexCache.find(files[i]);
    if (it == codexCache.end() || it->second.size != sizes[i] || sizes[i] == 0) stale.push_back(i);
  }

  std::vector<CodexRollout> parsed(stale.size());
  size_t workers = std::min(jsonl::workerCount(), stale.size());
  if (!stale.empty()) {
    std::vector<jsonl::FileBuffer> buffers(workers);
    std::vector<ondemand::parser> parsers(workers);
    std::vector<uint64_t> staleSizes(stale.size());
    for (size_t k = 0; k < stale.size(); ++k) staleSizes[k] = sizes[stale[k]];
    std::vector<size_t> order = jsonl::largestFirst(staleSizes);
    jsonl::parallelFor(stale.size(), workers, [&](size_t j, size_t w) {
      size_t k = order[j];
      parsed[k] = parseRollout(files[stale[k]], buffers[w], parsers[w]);
    });
  }

  CodexData data;
  std::optional<CodexLimits> best;
  size_t nextStale = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    CodexFileCache* entry;
    if (nextStale < stale.size() && stale[nextStale] == i) {
      CodexRollout& fresh = parsed[nextStale++];
      CodexFileCache& slot = codexCache[files[i]];
      slot = CodexFileCache{sizes[i], std::move(fresh.events), std::move(fresh.newestLimits)};
      entry = &slot;
    } else {
      entry = &codexCache[files[i]];
    }
    data.events.insert(data.events.end(), entry->events.begin(), entry->events.end());
    // Strictly later replaces; on equal times the one offered first stays.
    if (entry->newestLimits && (!best || entry->newestLimits->ts > best->ts))
      best = entry->newestLimits;
  }
  if (best) {
    for (auto& w : best->windows)
      if (!w.resetsAt || *w.resetsAt > now) data.limits.push_back(w);
  }
  return data;
}

}  // namespace brimvale
