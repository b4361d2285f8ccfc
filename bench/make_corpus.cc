// Writes a synthetic home shaped like the real tools' logs, for the reader
// benchmarks:
//
//   brimvale-corpus --home DIR [--claude-mib N] [--codex-mib N] [--gemini-mib N] [--seed N]
//                   [--output-scale F]
//
// Claude Code: DIR/.claude/projects/<project>/<session>.jsonl, plus sub-agent
// logs one folder deeper (<project>/<session>/subagents/agent-<id>.jsonl).
// Compact JSON as the tool writes it: user prompts, large tool-result lines,
// and every assistant reply repeated once per content block (thinking, text,
// tool use) under one message id with the same usage; summaries and file
// snapshots in between; the odd "<synthetic>" reply; some files end in a line
// cut short.
//
// Codex: DIR/.codex/sessions/YYYY/MM/DD/rollout-<time>-<uuid>.jsonl with a
// large session_meta line, turn_context lines, user and assistant items,
// function calls with large outputs, and token_count records carrying
// last_token_usage and rate_limits (the first one with "info": null).
//
// Gemini CLI: DIR/.gemini/tmp/<hash>/chats/session-<time>-<id>.json.
//
// The output depends only on the arguments.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Rng {
  uint64_t s;
  uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  uint64_t below(uint64_t n) { return n ? next() % n : 0; }
  bool chance(unsigned percent) { return below(100) < percent; }
};

std::string hex(Rng& r, int n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < n; ++i) s += d[r.below(16)];
  return s;
}

std::string uuid(Rng& r) {
  return hex(r, 8) + "-" + hex(r, 4) + "-" + hex(r, 4) + "-" + hex(r, 4) + "-" + hex(r, 12);
}

std::string base62(Rng& r, int n) {
  static const char* d = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string s;
  for (int i = 0; i < n; ++i) s += d[r.below(62)];
  return s;
}

// Prose-like text with JSON escapes in it (quotes, newlines, tabs, a few
// non-ASCII letters), already escaped for a JSON string.
std::string text(Rng& r, size_t bytes) {
  static const char* words[] = {"the", "function", "returns", "a", "value", "when", "config",
                                "\\\"usage\\\"", "error", "file", "src/main.cc", "let", "const",
                                "\\n", "\\t", "{", "}", "=>", "über", "テスト", "token", "if",
                                "assistant", "import", "type", "message", "cache", "42"};
  std::string s;
  s.reserve(bytes + 16);
  while (s.size() < bytes) {
    s += words[r.below(sizeof words / sizeof *words)];
    s += ' ';
  }
  return s;
}

std::string iso(int64_t unix, int millis, bool fraction = true) {
  time_t t = static_cast<time_t>(unix);
  tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  if (fraction)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

class Out {
 public:
  explicit Out(const std::filesystem::path& p) {
    std::filesystem::create_directories(p.parent_path());
    f_ = std::fopen(p.c_str(), "wb");
    if (!f_) {
      std::perror(p.c_str());
      std::exit(1);
    }
  }
  ~Out() { std::fclose(f_); }
  void line(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), f_);
    std::fputc('\n', f_);
    bytes_ += s.size() + 1;
  }
  void raw(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), f_);
    bytes_ += s.size();
  }
  uint64_t bytes() const { return bytes_; }

 private:
  FILE* f_;
  uint64_t bytes_ = 0;
};

const int64_t kStart = 1748736000;  // 2025-06-01T00:00:00Z
// Scales the size of tool results and function outputs (--output-scale): a
// smaller scale gives a corpus denser in counting lines.
double gOutputScale = 1.0;
size_t scaled(uint64_t bytes) { return static_cast<size_t>(static_cast<double>(bytes) * gOutputScale) + 16; }

// ---------------------------------------------------------------------------
// Claude Code

struct ClaudeSession {
  Rng& r;
  std::string session;
  std::string cwd;
  std::string parent;
  int64_t t;

  std::string common() {
    return "\"parentUuid\":\"" + parent + "\",\"isSidechain\":false,\"userType\":\"external\",\"cwd\":\"" +
           cwd + "\",\"sessionId\":\"" + session + "\",\"version\":\"2.0.31\",\"gitBranch\":\"main\"";
  }
  std::string stamp() {
    t += 1 + static_cast<int64_t>(r.below(40));
    return iso(t, static_cast<int>(r.below(1000)));
  }
  std::string next() {
    std::string u = uuid(r);
    parent = u;
    return u;
  }

  std::string userPrompt() {
    return "{" + common() + ",\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":\"" +
           text(r, 100 + r.below(1500)) + "\"},\"uuid\":\"" + next() + "\",\"timestamp\":\"" + stamp() +
           "\"}";
  }
  std::string toolResult() {
    // Mostly a few KiB, sometimes a whole file dumped into the log.
    size_t size = scaled(r.chance(8) ? 40000 + r.below(200000) : 1500 + r.below(12000));
    std::string id = "toolu_01" + base62(r, 22);
    std::string body = text(r, size);
    return "{" + common() + ",\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":[{\"tool_use_id\":\"" +
           id + "\",\"type\":\"tool_result\",\"content\":\"" + body + "\",\"is_error\":false}]},\"uuid\":\"" +
           next() + "\",\"timestamp\":\"" + stamp() + "\",\"toolUseResult\":{\"stdout\":\"" +
           body.substr(0, body.size() / 2) + "\",\"stderr\":\"\",\"interrupted\":false}}";
  }
  // One reply, written as one line per content block with the same id and usage.
  std::vector<std::string> reply(bool synthetic) {
    static const char* models[] = {"claude-sonnet-4-5-20250929", "claude-opus-4-1-20250805",
                                   "claude-haiku-4-5-20251001", "claude-sonnet-4-20250514"};
    std::string model = synthetic ? "<synthetic>" : models[r.below(100) < 70 ? 0 : 1 + r.below(3)];
    std::string id = "msg_01" + base62(r, 22);
    std::string usage = "{\"input_tokens\":" + std::to_string(1 + r.below(50)) +
                        ",\"cache_creation_input_tokens\":" + std::to_string(r.below(20000)) +
                        ",\"cache_read_input_tokens\":" + std::to_string(r.below(150000)) +
                        ",\"cache_creation\":{\"ephemeral_5m_input_tokens\":0,\"ephemeral_1h_input_tokens\":0}"
                        ",\"output_tokens\":" +
                        std::to_string(1 + r.below(4000)) + ",\"service_tier\":\"standard\"}";
    std::string req = "req_011" + base62(r, 21);
    std::vector<std::string> blocks;
    if (r.chance(40))
      blocks.push_back("{\"type\":\"thinking\",\"thinking\":\"" + text(r, 300 + r.below(2500)) +
                       "\",\"signature\":\"" + base62(r, 300) + "\"}");
    blocks.push_back("{\"type\":\"text\",\"text\":\"" + text(r, 50 + r.below(1200)) + "\"}");
    if (r.chance(60))
      blocks.push_back("{\"type\":\"tool_use\",\"id\":\"toolu_01" + base62(r, 22) +
                       "\",\"name\":\"Bash\",\"input\":{\"command\":\"" + text(r, 40 + r.below(1500)) +
                       "\",\"description\":\"Run it\"}}");
    std::vector<std::string> lines;
    std::string ts = stamp();
    for (const auto& block : blocks)
      lines.push_back("{" + common() + ",\"message\":{\"model\":\"" + model + "\",\"id\":\"" + id +
                      "\",\"type\":\"message\",\"role\":\"assistant\",\"content\":[" + block +
                      "],\"stop_reason\":null,\"stop_sequence\":null,\"usage\":" + usage +
                      "},\"requestId\":\"" + req + "\",\"type\":\"assistant\",\"uuid\":\"" + next() +
                      "\",\"timestamp\":\"" + ts + "\"}");
    return lines;
  }
};

void claudeFile(const std::filesystem::path& path, Rng& r, uint64_t target, const std::string& cwd) {
  Out out(path);
  ClaudeSession s{r, uuid(r), cwd, uuid(r), kStart + static_cast<int64_t>(r.below(180 * 86400))};
  if (r.chance(30)) out.line("{\"type\":\"summary\",\"summary\":\"" + text(r, 60) + "\",\"leafUuid\":\"" + uuid(r) + "\"}");
  while (out.bytes() < target) {
    out.line(s.userPrompt());
    int steps = 1 + static_cast<int>(r.below(6));
    for (int i = 0; i < steps && out.bytes() < target; ++i) {
      for (const auto& l : s.reply(r.chance(1))) out.line(l);
      out.line(s.toolResult());
    }
    if (r.chance(10))
      out.line("{\"type\":\"file-history-snapshot\",\"messageId\":\"" + uuid(r) +
               "\",\"snapshot\":{\"trackedFileBackups\":{},\"timestamp\":\"" + s.stamp() + "\"}}");
  }
  if (r.chance(15)) {
    auto last = s.reply(false).front();
    out.raw(last.substr(0, last.size() / 2));  // cut short, no final line feed
  }
}

void writeClaude(const std::filesystem::path& home, Rng& r, uint64_t bytes) {
  auto root = home / ".claude/projects";
  uint64_t written = 0;
  int project = 0;
  while (written < bytes) {
    std::string cwd = "/home/user/work/project-" + std::to_string(project);
    auto dir = root / ("-home-user-work-project-" + std::to_string(project));
    int sessions = 5 + static_cast<int>(r.below(30));
    for (int i = 0; i < sessions && written < bytes; ++i) {
      // Many small conversations, some long ones up to 48 MiB.
      uint64_t size = r.chance(10) ? (8 << 20) + r.below(40 << 20) : (64 << 10) + r.below(3 << 20);
      size = std::min(size, bytes - written);
      std::string session = uuid(r);
      claudeFile(dir / (session + ".jsonl"), r, size, cwd);
      written += std::filesystem::file_size(dir / (session + ".jsonl"));
      if (r.chance(25) && written < bytes) {
        auto agent = dir / session / "subagents" / ("agent-" + hex(r, 8) + ".jsonl");
        claudeFile(agent, r, std::min<uint64_t>((32 << 10) + r.below(1 << 20), bytes - written), cwd);
        written += std::filesystem::file_size(agent);
      }
    }
    ++project;
  }
}

// ---------------------------------------------------------------------------
// Codex

void codexFile(const std::filesystem::path& path, Rng& r, uint64_t target, int64_t start) {
  Out out(path);
  int64_t t = start;
  auto stamp = [&] {
    t += 1 + static_cast<int64_t>(r.below(30));
    return iso(t, static_cast<int>(r.below(1000)));
  };
  std::string id = uuid(r);
  out.line("{\"timestamp\":\"" + stamp() + "\",\"type\":\"session_meta\",\"payload\":{\"id\":\"" + id +
           "\",\"timestamp\":\"" + iso(t, 0) + "\",\"cwd\":\"/home/user/work\",\"originator\":\"codex_cli_rs\","
           "\"cli_version\":\"0.46.0\",\"instructions\":\"" + text(r, 12000) +
           "\",\"source\":\"cli\",\"model_provider\":\"openai\",\"git\":{\"commit_hash\":\"" + hex(r, 40) +
           "\",\"branch\":\"main\"}}}");
  static const char* models[] = {"gpt-5-codex", "gpt-5", "gpt-5.1-codex-max"};
  std::string model = models[r.below(3)];
  int64_t total = 0;
  bool first = true;
  double used5h = static_cast<double>(r.below(50)), usedWeek = static_cast<double>(r.below(60));
  while (out.bytes() < target) {
    if (r.chance(30)) model = models[r.below(3)];
    out.line("{\"timestamp\":\"" + stamp() + "\",\"type\":\"turn_context\",\"payload\":{\"cwd\":\"/home/user/work\","
             "\"approval_policy\":\"on-request\",\"sandbox_policy\":{\"mode\":\"workspace-write\"},\"model\":\"" +
             model + "\",\"effort\":\"medium\",\"summary\":\"auto\"}}");
    out.line("{\"timestamp\":\"" + stamp() + "\",\"type\":\"response_item\",\"payload\":{\"type\":\"message\","
             "\"role\":\"user\",\"content\":[{\"type\":\"input_text\",\"text\":\"" + text(r, 200 + r.below(2000)) +
             "\"}]}}");
    out.line("{\"timestamp\":\"" + stamp() + "\",\"type\":\"event_msg\",\"payload\":{\"type\":\"user_message\","
             "\"message\":\"" + text(r, 100 + r.below(500)) + "\",\"kind\":\"plain\"}}");
    int calls = static_cast<int>(r.below(5));
    for (int i = 0; i < calls; ++i) {
      std::string call = "call_" + base62(r, 24);
      out.line("{\"timestamp\":\"" + stamp() + "\",\"type\":\"response_item\",\"payload\":{\"type\":\"function_call\","
               "\"name\":\"shell\",\"arguments\":\"{\\\"command\\\":[\\\"bash\\\",\\\"-lc\\\",\\\"" + text(r, 80) +
               "\\\"]}\",\"call_id\":\"" + call + "\"}}");
      size_t size = scaled(r.chance(10) ? 30000 + r.below(100000) : 500 + r.below(6000));
      out.line("{\"timestamp\":\"" + stamp() + "\",\"type\":\"response_item\",\"payload\":{\"type\":\"function_call_output\","
               "\"call_id\":\"" + call + "\",\"output\":\"{\\\"output\\\":\\\"" + text(r, size) + "\\\"}\"}}");
    }
    out.line("{\"timestamp\":\"" + stamp() + "\",\"type\":\"response_item\",\"payload\":{\"type\":\"message\","
             "\"role\":\"assistant\",\"content\":[{\"type\":\"output_text\",\"text\":\"" + text(r, 100 + r.below(1500)) +
             "\"}]}}");
    int64_t input = 2000 + static_cast<int64_t>(r.below(60000));
    int64_t cached = static_cast<int64_t>(r.below(static_cast<uint64_t>(input)));
    int64_t output = 10 + static_cast<int64_t>(r.below(3000));
    int64_t reasoning = static_cast<int64_t>(r.below(static_cast<uint64_t>(output)));
    total += input + output;
    used5h = std::min(100.0, used5h + 0.5);
    usedWeek = std::min(100.0, usedWeek + 0.1);
    std::string limits = "{\"primary\":{\"used_percent\":" + std::to_string(used5h) +
                         ",\"window_minutes\":300,\"resets_in_seconds\":" + std::to_string(r.below(18000)) +
                         "},\"secondary\":{\"used_percent\":" + std::to_string(usedWeek) +
                         ",\"window_minutes\":10080,\"resets_at\":" + std::to_string(t + 86400 * 3) + "}}";
    std::string info =
        first ? "null"
              : "{\"total_token_usage\":{\"input_tokens\":" + std::to_string(total) +
                    ",\"cached_input_tokens\":0,\"output_tokens\":0,\"reasoning_output_tokens\":0,\"total_tokens\":" +
                    std::to_string(total) + "},\"last_token_usage\":{\"input_tokens\":" + std::to_string(input) +
                    ",\"cached_input_tokens\":" + std::to_string(cached) + ",\"output_tokens\":" +
                    std::to_string(output) + ",\"reasoning_output_tokens\":" + std::to_string(reasoning) +
                    ",\"total_tokens\":" + std::to_string(input + output) + "},\"model_context_window\":272000}";
    first = false;
    out.line("{\"timestamp\":\"" + stamp() + "\",\"type\":\"event_msg\",\"payload\":{\"type\":\"token_count\",\"info\":" +
             info + ",\"rate_limits\":" + limits + "}}");
  }
  if (r.chance(10)) out.raw("{\"timestamp\":\"" + stamp() + "\",\"type\":\"event_msg\",\"payload\":{\"type\":\"token_co");
}

void writeCodex(const std::filesystem::path& home, Rng& r, uint64_t bytes) {
  auto root = home / ".codex/sessions";
  uint64_t written = 0;
  while (written < bytes) {
    int64_t start = kStart + static_cast<int64_t>(r.below(180 * 86400));
    time_t tt = static_cast<time_t>(start);
    tm tm{};
    gmtime_r(&tt, &tm);
    char dir[64], name[128];
    std::snprintf(dir, sizeof dir, "%04d/%02d/%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    std::snprintf(name, sizeof name, "rollout-%04d-%02d-%02dT%02d-%02d-%02d-", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    auto path = root / dir / (std::string(name) + uuid(r) + ".jsonl");
    uint64_t size = r.chance(10) ? (4 << 20) + r.below(20 << 20) : (32 << 10) + r.below(1 << 20);
    codexFile(path, r, std::min(size, bytes - written), start);
    written += std::filesystem::file_size(path);
  }
}

// ---------------------------------------------------------------------------
// Gemini CLI

void writeGemini(const std::filesystem::path& home, Rng& r, uint64_t bytes) {
  auto root = home / ".gemini/tmp";
  uint64_t written = 0;
  while (written < bytes) {
    auto dir = root / hex(r, 64) / "chats";
    int sessions = 1 + static_cast<int>(r.below(8));
    for (int s = 0; s < sessions && written < bytes; ++s) {
      int64_t t = kStart + static_cast<int64_t>(r.below(180 * 86400));
      std::string name = "session-" + iso(t, 0, false).substr(0, 16) + "-" + hex(r, 8) + ".json";
      for (char& c : name)
        if (c == ':') c = '-';
      auto path = dir / name;
      Out out(path);
      std::string doc = "{\"sessionId\":\"" + uuid(r) + "\",\"projectHash\":\"" + hex(r, 64) +
                        "\",\"startTime\":\"" + iso(t, 0) + "\",\"messages\":[";
      int messages = 2 + static_cast<int>(r.below(80));
      for (int m = 0; m < messages; ++m) {
        t += 5 + static_cast<int64_t>(r.below(60));
        if (m) doc += ",";
        if (m % 2 == 0) {
          doc += "{\"id\":\"" + uuid(r) + "\",\"timestamp\":\"" + iso(t, static_cast<int>(r.below(1000))) +
                 "\",\"type\":\"user\",\"content\":\"" + text(r, 100 + r.below(2000)) + "\"}";
        } else {
          int64_t input = 1000 + static_cast<int64_t>(r.below(30000));
          int64_t cached = static_cast<int64_t>(r.below(static_cast<uint64_t>(input)));
          int64_t output = static_cast<int64_t>(r.below(2000)), thoughts = static_cast<int64_t>(r.below(1000)),
                  tool = static_cast<int64_t>(r.below(100));
          doc += "{\"id\":\"" + uuid(r) + "\",\"timestamp\":\"" + iso(t, static_cast<int>(r.below(1000))) +
                 "\",\"type\":\"gemini\",\"content\":\"" + text(r, 200 + r.below(3000)) +
                 "\",\"thoughts\":[{\"subject\":\"Plan\",\"description\":\"" + text(r, 200) +
                 "\"}],\"tokens\":{\"input\":" + std::to_string(input) + ",\"output\":" + std::to_string(output) +
                 ",\"cached\":" + std::to_string(cached) + ",\"thoughts\":" + std::to_string(thoughts) +
                 ",\"tool\":" + std::to_string(tool) + ",\"total\":" +
                 std::to_string(input + output + thoughts + tool) + "},\"model\":\"" +
                 (r.chance(50) ? "gemini-2.5-pro" : "gemini-2.5-flash") + "\"}";
        }
      }
      doc += "],\"lastUpdated\":\"" + iso(t, 0) + "\"}";
      out.raw(doc);
      written += doc.size();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  double claude = 64, codex = 16, gemini = 4;
  uint64_t seed = 42;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string_view k = argv[i];
    if (k == "--home") home = argv[i + 1];
    else if (k == "--claude-mib") claude = std::atof(argv[i + 1]);
    else if (k == "--codex-mib") codex = std::atof(argv[i + 1]);
    else if (k == "--gemini-mib") gemini = std::atof(argv[i + 1]);
    else if (k == "--seed") seed = std::strtoull(argv[i + 1], nullptr, 10);
    else if (k == "--output-scale") gOutputScale = std::atof(argv[i + 1]);
  }
  if (home.empty()) {
    std::fprintf(stderr,
                 "usage: brimvale-corpus --home DIR [--claude-mib N] [--codex-mib N] [--gemini-mib N] [--seed N]"
                 " [--output-scale F]\n");
    return 2;
  }
  Rng r{seed * 2654435761u + 1};
  writeClaude(home, r, static_cast<uint64_t>(claude * 1048576));
  writeCodex(home, r, static_cast<uint64_t>(codex * 1048576));
  writeGemini(home, r, static_cast<uint64_t>(gemini * 1048576));
  return 0;
}
