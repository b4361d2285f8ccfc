#include "shared_views/provider_icon.h"

#include <cmath>

#include <gtest/gtest.h>

#include "gui_support/image_util.h"
#include "shared_views/qt_color.h"

namespace brimvale {
namespace {

using test::straight;

// Every inked pixel of a mark, with its straight colour.
struct Ink {
  int pixels = 0;
  int offColour = 0;  // inked pixels whose colour differs from the expected one
  double maxRadius = 0;
};

Ink inspect(const QImage& image, const QColor& expected) {
  const QImage s = straight(image);
  Ink ink;
  const double c = s.width() / 2.0;
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x) {
      const QRgb px = s.pixel(x, y);
      if (qAlpha(px) == 0) continue;
      ++ink.pixels;
      // Edge pixels carry little alpha and so a rounded colour; judge the solid ones.
      if (qAlpha(px) > 200 && (std::abs(qRed(px) - expected.red()) > 2 ||
                               std::abs(qGreen(px) - expected.green()) > 2 ||
                               std::abs(qBlue(px) - expected.blue()) > 2))
        ++ink.offColour;
      if (qAlpha(px) > 127)
        ink.maxRadius = std::max(ink.maxRadius, std::hypot(x + 0.5 - c, y + 0.5 - c));
    }
  return ink;
}

TEST(ProviderIcon, EveryKindIsDrawnOnlyInTheGivenColourOnATransparentSquare) {
  const QColor orange(0xFF, 0x9F, 0x0A);
  for (ProviderKind kind : kAllProviderKinds) {
    SCOPED_TRACE(std::string(rawValue(kind)));
    const QImage image = ProviderIcon{kind, 96, orange}.render(1);
    ASSERT_EQ(image.size(), QSize(96, 96));
    const Ink ink = inspect(image, orange);
    EXPECT_GT(ink.pixels, 96 * 96 / 10);  // a real mark, not a speck
    EXPECT_LT(ink.pixels, 96 * 96);       // with transparent background around it
    EXPECT_EQ(ink.offColour, 0);
    EXPECT_EQ(test::alphaAt(image, 0, 0), 0);
  }
}

TEST(ProviderIcon, WithoutAColourTheBrandColourIsUsed) {
  for (ProviderKind kind : kAllProviderKinds) {
    SCOPED_TRACE(std::string(rawValue(kind)));
    const QColor brand = toQColor(brandColor(kind));
    const ProviderIcon icon{kind, 96, std::nullopt};
    EXPECT_EQ(icon.effectiveColor(), brand);
    EXPECT_EQ(inspect(icon.render(1), brand).offColour, 0);
  }
}

TEST(ProviderIcon, ClaudeRaysReachTheirLengthPlusTheRoundCap) {
  // Longest rays end 0.46 × 96 = 44.16 from the centre; the round cap of a
  // 11.52-wide stroke adds 5.76.
  // The caps reach past the square's edge, so draw it with a margin.
  const QImage canvas = test::paintToImage(128, [](QPainter& p) {
    p.translate(16, 16);
    ProviderIcon{ProviderKind::claude, 96, QColor(Qt::black)}.paint(p);
  });
  const Ink ink = inspect(canvas, QColor(Qt::black));
  EXPECT_NEAR(ink.maxRadius, 44.16 + 5.76, 1.0);
}

TEST(ProviderIcon, GeminiStarTouchesTheSquareMidpointsAndLeavesTheCornersEmpty) {
  const QImage image = ProviderIcon{ProviderKind::gemini, 96, QColor(Qt::black)}.render(1);
  EXPECT_EQ(test::alphaAt(image, 48, 48), 255);
  EXPECT_GT(test::alphaAt(image, 47, 1), 0);   // top point
  EXPECT_GT(test::alphaAt(image, 94, 48), 0);  // right point
  EXPECT_EQ(test::alphaAt(image, 20, 20), 0);  // concave side between the points
}

TEST(ProviderIcon, RenderingFollowsTheDevicePixelRatio) {
  const QImage image = ProviderIcon{ProviderKind::gpt, 18, QColor(Qt::black)}.render(2);
  EXPECT_EQ(image.size(), QSize(36, 36));
  EXPECT_DOUBLE_EQ(image.devicePixelRatio(), 2.0);
}

}  // namespace
}  // namespace brimvale
