#include <gtest/gtest.h>

#include <filesystem>

#include "model/snapshot_io.h"
#include "model/time_util.h"
#include "support/run_process.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

size_t countFiles(const std::string& root) {
  size_t n = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(root)) n += e.is_regular_file();
  return n;
}

TEST(Cli, EmptyHomeOfflineJsonIsTheEmptyPayload) {
  test::TempDir home;
  auto r = test::runProcess({test::cliPath(), "--home", home.path(), "--offline", "--json", "--now",
                             "2026-06-10T12:00:00Z"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  UsageSnapshot empty;
  empty.generatedAt = *parseISO8601("2026-06-10T12:00:00Z");
  empty.sessionMaxCost = 0;
  empty.sessionMaxTokens = 0;
  empty.provider = "generic";
  WidgetPayload payload;
  payload.combined = empty;
  EXPECT_EQ(r.out, SnapshotIO::encodePayload(payload) + "\n");
  EXPECT_EQ(countFiles(home.path()), 0u);  // reads only
  EXPECT_TRUE(std::filesystem::is_empty(home.path()));
}

TEST(Cli, ReportsPerToolAndNeverWritesUnderTheHome) {
  test::TempDir home;
  home.write(".config/Brimvale/defaults.json", R"({"aiConnections":[
    {"id":"X","source":"gemini","name":"My Gemini","colorHex":"FF0000","metricKey":"week"}]})");
  auto r = test::runProcess({test::cliPath(), "report", "--home", home.path(), "--offline"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("My Gemini (gemini)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("전체 사용량"), std::string::npos);
  EXPECT_EQ(countFiles(home.path()), 1u);

  auto given = test::runProcess({test::cliPath(), "--home", home.path(), "--offline", "--source",
                                 "codex", "--json"});
  EXPECT_NE(given.out.find("\"codex\":\"Codex CLI\""), std::string::npos) << given.out;
  EXPECT_EQ(given.out.find("gemini"), std::string::npos);
}

TEST(Cli, WrongArgumentsExitTwoWithAMessageNamingThem) {
  const std::vector<std::vector<std::string>> cases = {
      {"--source", "chatgpt"}, {"--now", "yesterday"}, {"--home"}, {"--frobnicate"}};
  for (const auto& args : cases) {
    std::vector<std::string> argv{test::cliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = test::runProcess(argv);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(args.back() == "--home" ? "--home" : args.back()), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
}

}  // namespace
}  // namespace brimvale
