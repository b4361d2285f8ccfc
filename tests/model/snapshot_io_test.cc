#include "model/snapshot_io.h"
#include "model/widget_settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

UsageSnapshot sample() {
  UsageSnapshot s;
  s.generatedAt = *parseISO8601("2026-06-10T12:00:00Z");
  s.totalCost = 1.5;
  s.totalTokens = 42;
  s.totalMessages = 2;
  s.provider = "claude";
  s.limits = std::vector<LimitWindow>{{"5h", "Claude 5 Hour", 0.25, s.generatedAt, std::nullopt}};
  s.models = {{"claude-opus-4-8", "Opus 4.8", 1.5, 42, 2}};
  s.days = {{"2026-06-10", 1.5, 42, 2}};
  return s;
}

TEST(SnapshotIO, WritesAndReadsEveryFileInTheExchangeFolder) {
  test::TempDir home;
  WidgetPayload payload;
  payload.combined = sample();
  payload.sources["claudeCode"] = sample();
  payload.names["claudeCode"] = "Claude Code";
  ASSERT_FALSE(SnapshotIO::save(home.path(), sample()));
  ASSERT_FALSE(SnapshotIO::savePayload(home.path(), payload));
  EXPECT_EQ(SnapshotIO::directory(home.path()), home / ".local/share/Brimvale");
  EXPECT_EQ(SnapshotIO::load(home.path()), sample());
  EXPECT_EQ(SnapshotIO::loadPayload(home.path()), payload);

  // Sorted keys, times in UTC whole seconds.
  std::string text = *readWholeFile(home / ".local/share/Brimvale/widget-data.json");
  EXPECT_LT(text.find("\"combined\""), text.find("\"names\""));
  EXPECT_LT(text.find("\"names\""), text.find("\"sources\""));
  EXPECT_NE(text.find("\"generatedAt\":\"2026-06-10T12:00:00Z\""), std::string::npos);

  // Without combined there is no key, and it reads back absent.
  payload.combined.reset();
  ASSERT_FALSE(SnapshotIO::savePayload(home.path(), payload));
  text = *readWholeFile(home / ".local/share/Brimvale/widget-data.json");
  EXPECT_EQ(text.find("combined"), std::string::npos);
  EXPECT_FALSE(SnapshotIO::loadPayload(home.path())->combined);
}

TEST(SnapshotIO, DamagedFilesReadAsAbsent) {
  test::TempDir home;
  EXPECT_FALSE(SnapshotIO::load(home.path()));
  EXPECT_FALSE(SnapshotIO::loadPayload(home.path()));
  WidgetPayload payload;
  payload.combined = sample();
  SnapshotIO::savePayload(home.path(), payload);
  const std::string file = home / ".local/share/Brimvale/widget-data.json";
  std::string full = *readWholeFile(file);
  home.write(".local/share/Brimvale/widget-data.json", full.substr(0, full.size() / 2));
  EXPECT_FALSE(SnapshotIO::loadPayload(home.path()));
  home.write(".local/share/Brimvale/widget-data.json", R"({"combined":null,"sources":{}})");
  EXPECT_FALSE(SnapshotIO::loadPayload(home.path()));  // "names" is required
}

TEST(SnapshotIO, MigratesTheLegacyFolderWithItsFiles) {
  test::TempDir home;
  home.write(".local/share/Kestrune/widget-config.json", R"({"summary":{"unit":"tokens"}})");
  home.write(".local/share/Kestrune/icons/ABC.png", "png bytes");
  EXPECT_EQ(SnapshotIO::directory(home.path()), home / ".local/share/Brimvale");
  EXPECT_FALSE(std::filesystem::exists(home / ".local/share/Kestrune"));
  EXPECT_EQ(readWholeFile(home / ".local/share/Brimvale/icons/ABC.png"), "png bytes");
  EXPECT_EQ(SnapshotIO::loadWidgetConfigs(home.path()).summary.unit, "tokens");
}

TEST(WidgetConfigs, ReadLenientlyAtEveryLevel) {
  struct Case {
    const char* file;
    WidgetConfigs expected;
  };
  WidgetConfigs summaryTokens;
  summaryTokens.summary = {"all", "tokens"};
  WidgetConfigs geminiPercent;
  geminiPercent.models = {"gemini", "percent"};
  const Case cases[] = {
      {R"({"summary":{"source":"all","unit":"tokens"}})", summaryTokens},
      {R"({"summary":{"unit":"tokens","source":7},"models":[1]})", summaryTokens},
      {R"({"models":{"source":"gemini","unit":"percent"},"session":"x"})", geminiPercent},
      {R"([1,2])", WidgetConfigs{}},
      {R"({"summ)", WidgetConfigs{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    test::TempDir home;
    home.write(".local/share/Brimvale/widget-config.json", c.file);
    EXPECT_EQ(SnapshotIO::loadWidgetConfigs(home.path()), c.expected);
  }
  EXPECT_EQ(geminiPercent.models.unitKind(), UnitKind::cost);
  EXPECT_EQ(summaryTokens.summary.unitKind(), UnitKind::tokens);
}

TEST(WidgetPayload, LookupsFallBackToCombined) {
  WidgetPayload p;
  p.combined = sample();
  UsageSnapshot codex = sample();
  codex.provider = "gpt";
  p.sources["codex"] = codex;
  p.names["codex"] = "Codex CLI";
  EXPECT_EQ(p.snapshot({"all", "cost"}), p.combined);
  EXPECT_EQ(p.snapshot({"codex", "cost"}), codex);
  EXPECT_EQ(p.snapshot({"gemini", "cost"}), p.combined);
  EXPECT_FALSE(p.name({"gemini", "cost"}));
  EXPECT_FALSE(p.name({"all", "cost"}));
  EXPECT_EQ(p.name({"codex", "cost"}), "Codex CLI");

  WidgetConfigs configs;
  configs.set({"codex", "tokens"}, "session");
  configs.set({"codex", "tokens"}, "nonsense");
  EXPECT_EQ(configs.config("session").source, "codex");
  EXPECT_EQ(configs.config("nonsense"), WidgetConfig{});
  EXPECT_EQ(configs.contribution, WidgetConfig{});
}

TEST(WidgetSettingsStore, EveryChangeIsWrittenAtOnce) {
  test::TempDir home;
  int changes = 0;
  WidgetSettingsStore store(home.path(), [&] { ++changes; });
  store.set({"grok", "tokens"}, "contribution");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(SnapshotIO::loadWidgetConfigs(home.path()).contribution, (WidgetConfig{"grok", "tokens"}));
  WidgetSettingsStore reopened(home.path());
  EXPECT_EQ(reopened.configs(), store.configs());
}

}  // namespace
}  // namespace brimvale
