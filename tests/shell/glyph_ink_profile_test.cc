#include "shell/glyph_ink_profile.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "gui_support/image_util.h"
#include "shell/menu_bar_glyph.h"

namespace brimvale {
namespace {

namespace GIP = GlyphInkProfile;

GIP::GlyphPainter styleGlyph(IconStyle style, ProviderKind provider) {
  return [=](QPainter& p) { MenuBarGlyph{style, provider, 96, QColor(Qt::black), std::nullopt}.paint(p); };
}

TEST(GlyphInkProfile, NeverDecreasesAndEndsAtTheGlyphsTotalInk) {
  struct Case {
    IconStyle style;
    ProviderKind provider;
  };
  const Case cases[] = {{IconStyle::app, ProviderKind::generic},     {IconStyle::claude, ProviderKind::generic},
                        {IconStyle::gpt, ProviderKind::generic},     {IconStyle::gemini, ProviderKind::generic},
                        {IconStyle::cursor, ProviderKind::generic},  {IconStyle::grok, ProviderKind::generic},
                        {IconStyle::chart, ProviderKind::generic},   {IconStyle::automatic, ProviderKind::gpt}};
  for (const Case& c : cases) {
    SCOPED_TRACE(profileKey(c.style, c.provider));
    const auto glyph = styleGlyph(c.style, c.provider);
    const auto profile = GIP::measure(glyph);
    ASSERT_TRUE(profile);
    for (int k = 1; k < GIP::sampleSize; ++k) EXPECT_GE((*profile)[k], (*profile)[k - 1]);
    const double total = test::totalAlpha(test::paintToImage(96, glyph));
    EXPECT_GT(total, 0);
    EXPECT_NEAR((*profile)[95], total, 1e-6 * total);
  }
}

TEST(GlyphInkProfile, IndexZeroIsTheBottomRow) {
  // One fully inked row at the very bottom, another at the very top.
  const auto profile = GIP::measure([](QPainter& p) {
    p.fillRect(QRect(0, 95, 96, 1), Qt::black);
    p.fillRect(QRect(0, 0, 48, 1), Qt::black);
  });
  ASSERT_TRUE(profile);
  EXPECT_DOUBLE_EQ((*profile)[0], 96);
  EXPECT_DOUBLE_EQ((*profile)[94], 96);
  EXPECT_DOUBLE_EQ((*profile)[95], 144);
}

TEST(GlyphInkProfile, InkInTheLowerHalfFillsBelowHalfTheHeight) {
  // A solid lower half: half the ink lies in the bottom quarter.
  int renders = 0;
  auto glyph = [&renders] {
    ++renders;
    return GIP::GlyphPainter([](QPainter& p) { p.fillRect(QRect(0, 48, 96, 48), Qt::black); });
  };
  EXPECT_DOUBLE_EQ(GIP::maskHeight("test-lower-half", 0.5, glyph), 0.25);
  EXPECT_DOUBLE_EQ(GIP::maskHeight("test-lower-half", 1.0 / 96 * 0.5 * 2, glyph), 1.0 / 96 * 0.5);
  EXPECT_LT(GIP::maskHeight("test-lower-half", 0.9, glyph), 0.5);
  EXPECT_EQ(renders, 1);  // measured once, then served from the cache
  EXPECT_TRUE(GIP::cache().count("test-lower-half"));
}

TEST(GlyphInkProfile, AGlyphWithoutInkIsCachedAndFillsLinearly) {
  auto empty = [] { return GIP::GlyphPainter([](QPainter&) {}); };
  for (double f : {0.1, 0.5, 0.93}) EXPECT_DOUBLE_EQ(GIP::maskHeight("test-empty", f, empty), f);
  ASSERT_TRUE(GIP::cache().count("test-empty"));
  EXPECT_EQ(GIP::cache().at("test-empty")[95], 0);
  EXPECT_DOUBLE_EQ(GIP::heightFor(nullptr, 0.42), 0.42);
}

TEST(GlyphInkProfile, MaskHeightClampsWithoutRenderingAtTheEnds) {
  int renders = 0;
  auto glyph = [&renders] {
    ++renders;
    return GIP::GlyphPainter([](QPainter& p) { p.fillRect(QRect(0, 0, 96, 96), Qt::black); });
  };
  EXPECT_EQ(GIP::maskHeight("test-ends", -0.5, glyph), 0);
  EXPECT_EQ(GIP::maskHeight("test-ends", 0, glyph), 0);
  EXPECT_EQ(GIP::maskHeight("test-ends", std::numeric_limits<double>::quiet_NaN(), glyph), 0);
  EXPECT_EQ(GIP::maskHeight("test-ends", 1, glyph), 1);
  EXPECT_EQ(GIP::maskHeight("test-ends", 1.7, glyph), 1);
  EXPECT_EQ(renders, 0);
  // A uniformly inked square fills in proportion to its height.
  EXPECT_NEAR(GIP::maskHeight("test-ends", 0.3, glyph), 0.3, 1e-12);
  EXPECT_EQ(renders, 1);
}

TEST(GlyphInkProfile, KeysFollowTheStyleAndForAutoTheProvider) {
  EXPECT_EQ(profileKey(IconStyle::app, ProviderKind::grok), "app");
  EXPECT_EQ(profileKey(IconStyle::chart, ProviderKind::claude), "chart");
  EXPECT_EQ(profileKey(IconStyle::gemini, ProviderKind::claude), "gemini");
  EXPECT_EQ(profileKey(IconStyle::automatic, ProviderKind::cursor), "auto-cursor");
  EXPECT_EQ(profileKey(IconStyle::automatic, ProviderKind::generic), "auto-generic");
  EXPECT_EQ(profileKey(IconStyle::photo, ProviderKind::gpt), "app");
}

}  // namespace
}  // namespace brimvale
