#include "shell/status_label.h"

#include <chrono>

#include <gtest/gtest.h>

namespace brimvale {
namespace {

using namespace std::chrono_literals;

const Time kNow = std::chrono::sys_days{std::chrono::year{2026} / 3 / 14} + 10h;

LimitWindow window(std::string id, double used, std::optional<Time> resetsAt) {
  LimitWindow w;
  w.id = std::move(id);
  w.label = w.id;
  w.usedFraction = used;
  w.resetsAt = resetsAt;
  return w;
}

UsageSnapshot snapshotWith(std::optional<std::string> provider, std::vector<LimitWindow> limits) {
  UsageSnapshot s;
  s.generatedAt = kNow;
  s.provider = std::move(provider);
  if (!limits.empty()) s.limits = std::move(limits);
  return s;
}

AIConnection connection(SourceKind source, std::string metricKey, std::string iconKey = "app") {
  AIConnection c;
  c.id = "5D2B7E0A-1C7B-4E55-9C1B-7A0F3C2D9E11";
  c.source = source;
  c.name = std::string(defaultName(source));
  c.colorHex = "FF9F0A";
  c.metricKey = std::move(metricKey);
  c.iconKey = std::move(iconKey);
  return c;
}

TEST(StatusLabel, TooltipTexts) {
  const UsageSnapshot noLimits = snapshotWith("claude", {});
  const UsageSnapshot zero = snapshotWith("claude", {window("5h", 0.0, kNow + 2h + 5min)});
  const UsageSnapshot pastReset = snapshotWith("claude", {window("5h", 0.42, kNow - 1min)});
  const UsageSnapshot cursor = snapshotWith("cursor", {window("7d", 0.634, kNow + 49h)});
  const UsageSnapshot weekly = snapshotWith("claude", {window("5h", 0.1, kNow + 1h),
                                                       window("7d", 0.5, kNow + 30min)});
  struct Case {
    std::string metric;
    const UsageSnapshot* snapshot;
    std::string expected;
  };
  const Case cases[] = {
      {"total", &noLimits, "Claude Code — 전체 사용량"},
      {"session", nullptr, "Claude Code — 세션 사용량"},
      {"session", &noLimits, "Claude Code — 세션 사용량"},
      {"session", &zero, "Claude Code — 세션 사용량 0% · 2시간 5분 후 초기화"},
      {"session", &pastReset, "Claude Code — 세션 사용량 42%"},
      {"session", &cursor, "Claude Code — 세션 사용량 63% · 2일 1시간 후 초기화"},
      {"week", &weekly, "Claude Code — 주간 사용량 50% · 30분 후 초기화"},
      {"today", &weekly, "Claude Code — 오늘 사용량"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(tooltipText("Claude Code", MetricKind::from(c.metric), c.snapshot, kNow), c.expected);
  }
}

TEST(StatusLabel, QuotaWindowStandsBehindWeekAndSessionOnly) {
  const UsageSnapshot claude = snapshotWith("claude", {window("7d", 0.3, kNow + 1h)});
  const UsageSnapshot cursor = snapshotWith("cursor", {window("7d", 0.3, kNow + 1h)});
  EXPECT_EQ(quotaWindow(MetricKind::week(), &claude)->id, "7d");
  EXPECT_FALSE(quotaWindow(MetricKind::session(), &claude));  // "7d" stands in only for Cursor
  EXPECT_EQ(quotaWindow(MetricKind::session(), &cursor)->id, "7d");
  EXPECT_FALSE(quotaWindow(MetricKind::today(), &claude));
  EXPECT_FALSE(quotaWindow(MetricKind::model("claude-opus-4"), &claude));
  EXPECT_FALSE(quotaWindow(MetricKind::week(), nullptr));
}

TEST(StatusLabel, ThePlaceholderShowsTheAppGlyphInTheDefaultColour) {
  const StatusLabel label = statusLabel(nullptr, nullptr, kNow, nullptr);
  EXPECT_EQ(label.tooltip, "Brimvale — 클릭해서 AI를 연결하세요");
  EXPECT_EQ(label.icon.style, IconStyle::app);
  EXPECT_EQ(label.icon.provider, ProviderKind::generic);
  EXPECT_FALSE(label.icon.fraction);
  EXPECT_EQ(label.icon.color, QColor(0x00, 0xC7, 0xBE));
  EXPECT_EQ(label.icon.size, 18);
}

TEST(StatusLabel, CursorSessionFillsFromItsBillingPeriod) {
  const AIConnection c = connection(SourceKind::cursor, "session", "auto");
  const UsageSnapshot cursor = snapshotWith("cursor", {window("7d", 0.634, kNow + 49h)});
  const StatusLabel label = statusLabel(&c, &cursor, kNow, nullptr);
  ASSERT_TRUE(label.icon.fraction);
  EXPECT_DOUBLE_EQ(*label.icon.fraction, 0.634);
  EXPECT_EQ(label.icon.provider, ProviderKind::cursor);
  EXPECT_EQ(label.icon.style, IconStyle::automatic);
  EXPECT_EQ(label.icon.color, QColor(0xFF, 0x9F, 0x0A));
}

TEST(StatusLabel, AGenericOrMissingSnapshotTakesTheSourcesFallbackProvider) {
  const AIConnection gjc = connection(SourceKind::gjc, "session", "auto");
  const AIConnection codex = connection(SourceKind::codex, "session", "auto");
  const UsageSnapshot generic = snapshotWith(std::nullopt, {});
  const UsageSnapshot claude = snapshotWith("claude", {});
  EXPECT_EQ(statusLabel(&codex, nullptr, kNow, nullptr).icon.provider, ProviderKind::gpt);
  EXPECT_EQ(statusLabel(&codex, &generic, kNow, nullptr).icon.provider, ProviderKind::gpt);
  EXPECT_EQ(statusLabel(&gjc, &generic, kNow, nullptr).icon.provider, ProviderKind::generic);
  EXPECT_EQ(statusLabel(&codex, &claude, kNow, nullptr).icon.provider, ProviderKind::claude);
}

TEST(StatusLabel, TheTotalMetricNeverFills) {
  const AIConnection c = connection(SourceKind::claudeCode, "total");
  UsageSnapshot busy = snapshotWith("claude", {window("5h", 0.9, kNow + 1h)});
  busy.totalCost = 1234;
  const StatusLabel label = statusLabel(&c, &busy, kNow, nullptr);
  EXPECT_FALSE(label.icon.fraction);
  EXPECT_EQ(label.icon.fillHeight(), 0);
}

TEST(StatusLabel, OnlyThePhotoStyleLoadsThePhoto) {
  int loads = 0;
  const PhotoLoader loader = [&loads](const std::string& id) -> std::optional<QImage> {
    ++loads;
    EXPECT_EQ(id, "5D2B7E0A-1C7B-4E55-9C1B-7A0F3C2D9E11");
    QImage image(96, 96, QImage::Format_ARGB32);
    image.fill(Qt::red);
    return image;
  };
  const AIConnection app = connection(SourceKind::claudeCode, "session", "app");
  const AIConnection photo = connection(SourceKind::claudeCode, "session", "photo");
  EXPECT_FALSE(statusLabel(&app, nullptr, kNow, loader).icon.image);
  EXPECT_EQ(loads, 0);
  EXPECT_TRUE(statusLabel(&photo, nullptr, kNow, loader).icon.showsPhoto());
  EXPECT_EQ(loads, 1);
}

}  // namespace
}  // namespace brimvale
