// brimvale-cli on a generated Claude Code home: the per-day token totals of
// the widget payload equal the totals the generator itself wrote down.

#include <gtest/gtest.h>

#include <map>
#include <random>

#include <nlohmann/json.hpp>

#include "model/snapshot_io.h"
#include "model/time_util.h"
#include "support/run_process.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

struct Corpus {
  std::map<std::string, int64_t> tokensByDay;  // local day key -> tokens
  std::map<std::string, int64_t> messagesByDay;
};

// Writes a few projects of conversations shaped like Claude Code's logs and
// counts, while writing, what a reader must find: one count per reply id
// (each reply is repeated once per content block), none for user lines,
// "<synthetic>" replies, lines cut short or timestamps without a zone.
Corpus writeCorpus(const test::TempDir& home) {
  Corpus corpus;
  std::mt19937_64 rng(2025);
  auto pick = [&](int64_t n) { return static_cast<int64_t>(rng() % static_cast<uint64_t>(n)); };
  int64_t t = std::chrono::duration_cast<Seconds>(parseISO8601("2025-05-28T21:00:00Z")->time_since_epoch()).count();
  int replyId = 0;
  for (int project = 0; project < 3; ++project) {
    for (int file = 0; file < 4; ++file) {
      std::string content;
      for (int turn = 0; turn < 60; ++turn) {
        t += 600 + pick(3000);  // crosses several local midnights
        std::string ts = formatISO8601(Time(Seconds(t)));
        content += "{\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":\"usage " + std::to_string(turn) +
                   "\"},\"timestamp\":\"" + ts + "\"}\n";
        bool synthetic = pick(20) == 0, zoneless = pick(25) == 0;
        int64_t in = pick(100), out = 1 + pick(2000), read = pick(50000), write = pick(5000);
        std::string usage = "{\"input_tokens\":" + std::to_string(in) + ",\"cache_creation_input_tokens\":" +
                            std::to_string(write) + ",\"cache_read_input_tokens\":" + std::to_string(read) +
                            ",\"output_tokens\":" + std::to_string(out) + "}";
        std::string stamp = zoneless ? ts.substr(0, 19) : ts;
        std::string id = "msg_" + std::to_string(replyId++);
        int blocks = 1 + static_cast<int>(pick(3));
        for (int b = 0; b < blocks; ++b)
          content += "{\"message\":{\"model\":\"" + std::string(synthetic ? "<synthetic>" : "claude-sonnet-4-5") +
                     "\",\"id\":\"" + id + "\",\"content\":[{\"type\":\"text\",\"text\":\"block " +
                     std::to_string(b) + "\"}],\"usage\":" + usage + "},\"type\":\"assistant\",\"timestamp\":\"" +
                     stamp + "\"}\n";
        if (!synthetic && !zoneless) {
          std::string day = dayKey(Time(Seconds(t)));
          corpus.tokensByDay[day] += in + out + read + write;
          corpus.messagesByDay[day] += 1;
        }
      }
      content += "{\"message\":{\"model\":\"claude-opus-4\",\"id\":\"cut\",\"usage\":{\"output_tokens\":";
      std::string path = ".claude/projects/-home-p" + std::to_string(project) + "/s" + std::to_string(file) + ".jsonl";
      if (file == 3) path = ".claude/projects/-home-p" + std::to_string(project) + "/s0/subagents/agent-a.jsonl";
      home.write(path, content);
    }
  }
  return corpus;
}

TEST(CliClaudeCorpus, PerDayTokensEqualTheGeneratedCounts) {
  test::TempDir home;
  Corpus corpus = writeCorpus(home);
  ASSERT_GE(corpus.tokensByDay.size(), 5u);

  auto r = test::runProcess({test::cliPath(), "--home", home.path(), "--source", "claudeCode", "--offline", "--json",
                             "--now", "2025-06-20T12:00:00Z"},
                            {{"TZ", "Europe/Berlin"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  WidgetPayload payload = nlohmann::json::parse(r.out).get<WidgetPayload>();
  ASSERT_TRUE(payload.sources.count("claudeCode")) << r.out.substr(0, 500);
  const UsageSnapshot& snapshot = payload.sources.at("claudeCode");

  std::map<std::string, int64_t> tokens, messages;
  for (const DayUsage& day : snapshot.days) {
    tokens[day.date] = day.tokens;
    messages[day.date] = day.messages;
  }
  EXPECT_EQ(tokens, corpus.tokensByDay);
  EXPECT_EQ(messages, corpus.messagesByDay);
  int64_t total = 0;
  for (const auto& [day, n] : corpus.tokensByDay) total += n;
  EXPECT_EQ(snapshot.totalTokens, total);
}

}  // namespace
}  // namespace brimvale
