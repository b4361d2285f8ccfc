#include "collection/readers/claude_projects.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "collection/cost_estimation.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

Time utc(const char* text) { return *parseISO8601(text); }

// One assistant line as Claude Code writes it (compact, "type" after "message").
std::string reply(const std::string& id, const std::string& usage,
                  const std::string& ts = "2025-06-01T09:30:12.345Z",
                  const std::string& model = "claude-sonnet-4-5", const std::string& extra = "") {
  std::string idPart = id.empty() ? "" : "\"id\":\"" + id + "\",";
  return "{\"parentUuid\":null,\"message\":{\"model\":\"" + model + "\"," + idPart +
         "\"role\":\"assistant\",\"content\":[{\"type\":\"text\",\"text\":\"hi\"}],\"usage\":" + usage +
         "},\"type\":\"assistant\",\"uuid\":\"u1\",\"timestamp\":\"" + ts + "\"" + extra + "}";
}

// An assistant line around a given "message" value.
std::string message(const std::string& body) {
  return "{\"type\":\"assistant\",\"message\":" + body + ",\"timestamp\":\"2025-06-01T09:30:12Z\"}";
}

const std::string kUsage = "{\"input_tokens\":10,\"output_tokens\":20,\"cache_read_input_tokens\":30,"
                           "\"cache_creation_input_tokens\":40}";

std::vector<UsageEvent> readOne(const std::string& content) {
  test::TempDir home;
  home.write(".claude/projects/proj/session.jsonl", content);
  return loadClaudeProjects(home.path());
}

int64_t tokenSum(const std::vector<UsageEvent>& events) {
  int64_t sum = 0;
  for (const auto& e : events) sum += e.tokens;
  return sum;
}

TEST(ClaudeProjects, BuildsTheEventFromAllFourCounts) {
  auto events = readOne(reply("msg_1", kUsage) + "\n");
  ASSERT_EQ(events.size(), 1u);
  UsageEvent expected{utc("2025-06-01T09:30:12.345Z"), "claude-sonnet-4-5", 100,
                      estimateCost("claude-sonnet-4-5", 10, 20, 30, 40), "anthropic"};
  EXPECT_EQ(events[0], expected);
}

TEST(ClaudeProjects, LineRules) {
  struct Case {
    const char* name;
    std::string content;
    size_t events;
    int64_t tokens;
  };
  const std::string spaced =
      "{\"type\": \"assistant\", \"timestamp\": \"2025-06-01T09:30:12Z\", \"message\": {\"id\": \"m\", "
      "\"model\": \"claude-opus-4\", \"usage\": {\"output_tokens\": 7}}}";
  const Case cases[] = {
      {"one reply written as three lines with one id", reply("m", kUsage) + "\n" + reply("m", kUsage) + "\n" +
                                                           reply("m", kUsage) + "\n", 1, 100},
      {"two ids with identical content", reply("a", kUsage) + "\n" + reply("b", kUsage) + "\n", 2, 200},
      {"lines without id are never merged", reply("", kUsage) + "\n" + reply("", kUsage) + "\n", 2, 200},
      {"user line", "{\"type\":\"user\",\"message\":{\"model\":\"x\",\"usage\":" + kUsage +
                        "},\"timestamp\":\"2025-06-01T09:30:12Z\"}\n", 0, 0},
      {"synthetic model", reply("m", kUsage, "2025-06-01T09:30:12Z", "<synthetic>") + "\n", 0, 0},
      {"plain timestamp accepted", reply("m", kUsage, "2025-06-01T09:30:12Z") + "\n", 1, 100},
      {"timestamp without zone", reply("m", kUsage, "2025-06-01 09:30:12") + "\n", 0, 0},
      {"timestamp without zone, T form", reply("m", kUsage, "2025-06-01T09:30:12") + "\n", 0, 0},
      {"all counts zero", reply("m", "{\"input_tokens\":0,\"output_tokens\":0}") + "\n", 0, 0},
      {"empty usage", reply("m", "{}") + "\n", 0, 0},
      {"only cache read", reply("m", "{\"cache_read_input_tokens\":500}") + "\n", 1, 500},
      {"fraction counts as zero", reply("m", "{\"input_tokens\":12.5,\"output_tokens\":3}") + "\n", 1, 3},
      {"integral float counts", reply("m", "{\"input_tokens\":12.0,\"output_tokens\":3}") + "\n", 1, 15},
      {"string counts as zero", reply("m", "{\"input_tokens\":\"12\",\"output_tokens\":3}") + "\n", 1, 3},
      {"null and bool count as zero",
       reply("m", "{\"input_tokens\":null,\"output_tokens\":true,\"cache_read_input_tokens\":4}") + "\n", 1, 4},
      {"negative counts add up", reply("m", "{\"input_tokens\":-5,\"output_tokens\":8}") + "\n", 1, 3},
      {"overflowing sum is dropped",
       reply("m", "{\"input_tokens\":9223372036854775807,\"output_tokens\":9223372036854775807}") + "\n", 0, 0},
      {"other spacing is still read", spaced + "\n", 1, 7},
      {"last line without final line feed", reply("a", kUsage) + "\n" + reply("b", kUsage), 2, 200},
      {"carriage returns tolerated", reply("a", kUsage) + "\r\n" + reply("b", kUsage) + "\r\n", 2, 200},
      {"usage not an object", reply("m", "[1,2]") + "\n", 0, 0},
      {"message not an object", "{\"type\":\"assistant\",\"message\":\"usage\",\"timestamp\":\"2025-06-01T09:30:12Z\"}\n",
       0, 0},
      {"model not a string", message("{\"model\":42,\"id\":\"m\",\"usage\":" + kUsage + "}") + "\n", 0, 0},
      {"timestamp not a string",
       "{\"type\":\"assistant\",\"message\":{\"model\":\"x\",\"usage\":" + kUsage + "},\"timestamp\":1748770212}\n", 0, 0},
      {"type not a string", "{\"type\":1,\"message\":{\"model\":\"x\",\"usage\":" + kUsage +
                                "},\"timestamp\":\"2025-06-01T09:30:12Z\"}\n", 0, 0},
      {"id not a string: its own event each time",
       message("{\"model\":\"m\",\"id\":7,\"usage\":" + kUsage + "}") + "\n" +
           message("{\"model\":\"m\",\"id\":7,\"usage\":" + kUsage + "}") + "\n",
       2, 200},
      {"a line cut short", reply("a", kUsage) + "\n" + reply("b", kUsage).substr(0, 150), 1, 100},
      {"a line missing only its closing brace", reply("b", kUsage).substr(0, reply("b", kUsage).size() - 1), 0, 0},
      {"a line cut inside the usage", reply("b", kUsage).substr(0, reply("b", kUsage).find("output")), 0, 0},
      {"trailing garbage after the object", reply("a", kUsage) + " xyz\n", 0, 0},
      {"not an object", "[" + reply("a", kUsage) + "]\n\"usage\"\n", 0, 0},
      {"invalid JSON then a good line", "{\"usage\": tru}\n{\"usage\"\n" + reply("a", kUsage) + "\n", 1, 100},
      {"invalid UTF-8 drops only its line",
       reply("a", kUsage, "2025-06-01T09:30:12Z", "bad\xff\xfe") + "\n" + reply("b", kUsage) + "\n", 1, 100},
      {"nothing but a partial line", reply("a", kUsage).substr(0, 60), 0, 0},
      {"empty file", "", 0, 0},
      {"blank lines only", "\n\n\n", 0, 0},
      {"a reply line longer than the read buffer",
       reply("a", kUsage) + "\n" + reply("big", kUsage, "2025-06-01T09:30:12Z", "claude-sonnet-4-5",
                                          ",\"pad\":\"" + std::string(3 << 20, 'x') + "\"") + "\n",
       2, 200},
      {"deep nesting in a part that is not read",
       message("{\"model\":\"m\",\"usage\":" + kUsage + ",\"content\":" + std::string(5000, '[') +
               std::string(5000, ']') + "}") + "\n" + reply("a", kUsage) + "\n",
       2, 200},
  };
  for (const auto& c : cases) {
    auto events = readOne(c.content);
    EXPECT_EQ(events.size(), c.events) << c.name;
    EXPECT_EQ(tokenSum(events), c.tokens) << c.name;
  }
}

TEST(ClaudeProjects, CostComesFromCostUSDWhenItIsANumber) {
  struct Case {
    std::string extra;
    double cost;
  };
  double estimate = estimateCost("claude-sonnet-4-5", 10, 20, 30, 40);
  const Case cases[] = {
      {",\"costUSD\":0", 0.0},
      {",\"costUSD\":1.25", 1.25},
      {",\"costUSD\":2", 2.0},
      {",\"costUSD\":null", estimate},
      {",\"costUSD\":\"1.25\"", estimate},
      {"", estimate},
  };
  for (const auto& c : cases) {
    auto events = readOne(reply("m", kUsage, "2025-06-01T09:30:12Z", "claude-sonnet-4-5", c.extra) + "\n");
    ASSERT_EQ(events.size(), 1u) << c.extra;
    EXPECT_DOUBLE_EQ(events[0].cost, c.cost) << c.extra;
  }
  auto cacheOnly = readOne(reply("m", "{\"cache_read_input_tokens\":500}") + "\n");
  ASSERT_EQ(cacheOnly.size(), 1u);
  EXPECT_DOUBLE_EQ(cacheOnly[0].cost, estimateCost("claude-sonnet-4-5", 0, 0, 500, 0));
}

// Files are visited in sorted path order; the last line read wins, whatever
// the threads do. Sub-agent logs one folder deeper are read too.
TEST(ClaudeProjects, LastLineReadWinsAcrossFilesInSortedOrder) {
  test::TempDir home;
  auto usage = [](int output) { return "{\"output_tokens\":" + std::to_string(output) + "}"; };
  // Many files, so several workers share them.
  for (int i = 0; i < 40; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, ".claude/projects/p%02d/s.jsonl", i);
    home.write(name, reply("shared", usage(i + 1)) + "\n" + reply("own" + std::to_string(i), usage(1000)) + "\n");
  }
  home.write(".claude/projects/p39/s/subagents/agent-1.jsonl", reply("shared", usage(77)) + "\n");
  home.write(".claude/projects/p05/session.JSONL", reply("upper", usage(5)) + "\n");
  home.write(".claude/projects/p05/notes.txt", reply("txt", usage(5)) + "\n");
  auto events = loadClaudeProjects(home.path());
  ASSERT_EQ(events.size(), 41u);
  int64_t shared = -1;
  for (const auto& e : events)
    if (e.tokens != 1000) shared = e.tokens;
  // "p39/s.jsonl" sorts before "p39/s/subagents/agent-1.jsonl".
  EXPECT_EQ(shared, 77);
  EXPECT_EQ(tokenSum(events), 40 * 1000 + 77);
}

TEST(ClaudeProjects, BadFoldersAndFilesGiveNothing) {
  static const char kBinary[] = "\0\x01\x02usage\"usage\"\xff";
  EXPECT_TRUE(loadClaudeProjects("").empty());
  test::TempDir home;
  EXPECT_TRUE(loadClaudeProjects(home.path()).empty());
  EXPECT_TRUE(loadClaudeProjects(home / "no-such-home").empty());
  home.write(".claude/projects", "a file where the folder should be");
  EXPECT_TRUE(loadClaudeProjects(home.path()).empty());

  test::TempDir other;
  std::filesystem::create_directories(other / ".claude/projects/p/folder.jsonl");
  std::filesystem::create_symlink(other / "gone.jsonl", other / ".claude/projects/p/broken.jsonl");
  other.write(".claude/projects/p/good.jsonl", reply("m", kUsage) + "\n");
  other.write(".claude/projects/p/empty.jsonl", "");
  other.write(".claude/projects/p/binary.jsonl", std::string(kBinary, sizeof kBinary - 1));
  auto events = loadClaudeProjects(other.path());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].tokens, 100);
}

}  // namespace
}  // namespace brimvale
