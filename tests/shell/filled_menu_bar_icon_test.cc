#include "shell/filled_menu_bar_icon.h"

#include <cmath>

#include <gtest/gtest.h>

#include "gui_support/image_util.h"
#include "shell/glyph_ink_profile.h"

namespace brimvale {
namespace {

const IconStyle kGlyphStyles[] = {IconStyle::app,    IconStyle::automatic, IconStyle::claude,
                                  IconStyle::gpt,    IconStyle::gemini,    IconStyle::cursor,
                                  IconStyle::grok,   IconStyle::chart,     IconStyle::photo};

FilledMenuBarIcon icon(IconStyle style, std::optional<double> fraction) {
  return FilledMenuBarIcon{style, ProviderKind::gpt, fraction, 18, QColor(0x00, 0xC7, 0xBE),
                           std::nullopt};
}

QImage solidPhoto() {
  QImage photo(96, 96, QImage::Format_ARGB32);
  photo.fill(QColor(Qt::white));
  return photo;
}

TEST(FilledMenuBarIcon, ZeroDrawsTheSamePixelsAsNoFraction) {
  for (IconStyle style : kGlyphStyles) {
    SCOPED_TRACE(std::string(rawValue(style)));
    EXPECT_EQ(icon(style, 0.0).render(2), icon(style, std::nullopt).render(2));
  }
}

TEST(FilledMenuBarIcon, OneOrMoreRevealsTheWholeGlyph) {
  for (IconStyle style : kGlyphStyles) {
    SCOPED_TRACE(std::string(rawValue(style)));
    const QImage full = icon(style, 1.0).render(2);
    EXPECT_EQ(icon(style, 1.3).render(2), full);
    // Every pixel at least as opaque as the glyph itself at full opacity.
    const QImage glyph = test::paintToImage(36, [&](QPainter& p) {
      p.scale(2, 2);
      MenuBarGlyph{icon(style, 1.0).glyphStyle(), ProviderKind::gpt, 18, QColor(0x00, 0xC7, 0xBE),
                   std::nullopt}.paint(p);
    });
    int lower = 0;
    for (int y = 0; y < 36; ++y)
      for (int x = 0; x < 36; ++x)
        if (test::alphaAt(full, x, y) + 1 < test::alphaAt(glyph, x, y)) ++lower;
    EXPECT_EQ(lower, 0);
  }
}

TEST(FilledMenuBarIcon, AbsentFractionDrawsOnlyTheFaintTrack) {
  const QImage track = icon(IconStyle::gemini, std::nullopt).render(4);  // 72 x 72
  int maxAlpha = 0;
  for (int y = 0; y < 72; ++y)
    for (int x = 0; x < 72; ++x) maxAlpha = std::max(maxAlpha, test::alphaAt(track, x, y));
  EXPECT_NEAR(maxAlpha, std::lround(0.28 * 255), 1);
}

TEST(FilledMenuBarIcon, TheFillRevealsTheGlyphFromTheBottomUp) {
  // The star is symmetric top to bottom: half its ink is below the middle.
  const FilledMenuBarIcon half = icon(IconStyle::gemini, 0.5);
  EXPECT_NEAR(half.fillHeight(), 0.5, 0.01);
  const QImage image = half.render(4);
  const int faint = std::lround(0.28 * 255);
  EXPECT_EQ(test::alphaAt(image, 36, 60), 255);         // centre column, low
  EXPECT_NEAR(test::alphaAt(image, 36, 12), faint, 1);  // centre column, high
}

TEST(FilledMenuBarIcon, PhotoOpacityShowsTheFraction) {
  struct Case {
    std::optional<double> fraction;
    double opacity;
  };
  const Case cases[] = {{std::nullopt, 0.15}, {-0.2, 0.15}, {0.0, 0.15},
                        {0.5, 0.575},         {1.0, 1.0},   {1.3, 1.0}};
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(FilledMenuBarIcon::photoOpacity(c.fraction), c.opacity);
    FilledMenuBarIcon photo = icon(IconStyle::photo, c.fraction);
    photo.image = solidPhoto();
    ASSERT_TRUE(photo.showsPhoto());
    const QImage image = photo.render(2);
    EXPECT_NEAR(test::alphaAt(image, 18, 18), c.opacity * 255, 1.5);  // opacity has 256 steps
    EXPECT_NEAR(test::alphaAt(image, 0, 35), c.opacity * 255, 1.5);  // stretched to the square
  }
}

TEST(FilledMenuBarIcon, APhotoStyleWithoutAPhotoFillsLikeTheAppGlyph) {
  for (std::optional<double> f : {std::optional<double>(), std::optional<double>(0.4),
                                  std::optional<double>(1.0)})
    EXPECT_EQ(icon(IconStyle::photo, f).render(2), icon(IconStyle::app, f).render(2));
}

TEST(FilledMenuBarIcon, RendersAtTheDevicePixelRatio) {
  EXPECT_EQ(icon(IconStyle::claude, 0.3).render(2).size(), QSize(36, 36));
  EXPECT_EQ(icon(IconStyle::claude, 0.3).render(1).size(), QSize(18, 18));
  EXPECT_EQ(icon(IconStyle::claude, 0.3).render(1.5).size(), QSize(27, 27));
}

TEST(FilledMenuBarIcon, TheAutoStyleFollowsTheProvider) {
  FilledMenuBarIcon claude = icon(IconStyle::automatic, 0.5);
  claude.provider = ProviderKind::claude;
  FilledMenuBarIcon named = icon(IconStyle::claude, 0.5);
  EXPECT_EQ(claude.render(2), named.render(2));
  EXPECT_NE(claude.render(2), icon(IconStyle::automatic, 0.5).render(2));  // gpt
  EXPECT_TRUE(GlyphInkProfile::cache().count("auto-claude"));
}

}  // namespace
}  // namespace brimvale
