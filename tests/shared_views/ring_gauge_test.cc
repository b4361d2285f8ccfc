#include "shared_views/ring_gauge.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "gui_support/image_util.h"

namespace brimvale {
namespace {

TEST(RingGauge, ArcIsClampedButTheLabelIsNot) {
  struct Case {
    std::optional<double> fraction;
    std::optional<double> arc;
    std::string label;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, "—"}, {0.0, 0.004, "0%"},  {-0.3, 0.004, "-30%"},
      {0.25, 0.25, "25%"},               {1.0, 1.0, "100%"},  {1.4, 1.0, "140%"},
  };
  for (const Case& c : cases) {
    RingGauge gauge;
    gauge.fraction = c.fraction;
    EXPECT_EQ(gauge.arcFraction(), c.arc);
    EXPECT_EQ(gauge.labelText(), c.label);
  }
  RingGauge notANumber;
  notANumber.fraction = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(notANumber.arcFraction(), 0.004);
  EXPECT_EQ(notANumber.labelText(), "—");
}

// Alpha on the ring's centre line at a clock angle (0 = top, clockwise).
int ringAlpha(const QImage& image, double size, double lineWidth, double turns) {
  const double r = (size - lineWidth) / 2, c = size / 2, a = turns * 2 * M_PI;
  return test::alphaAt(image, static_cast<int>(c + r * std::sin(a)),
                       static_cast<int>(c - r * std::cos(a)));
}

TEST(RingGauge, TrackIsFaintAndTheArcRunsClockwiseFromTheTop) {
  const double s = 96, w = 12;
  const QColor tint(Qt::black);
  const int faint = static_cast<int>(std::lround(0.22 * 255));

  const QImage none = RingGauge{std::nullopt, s, w, tint, false}.render(1);
  for (double t : {0.0, 0.25, 0.5, 0.75}) EXPECT_NEAR(ringAlpha(none, s, w, t), faint, 2);

  const QImage zero = RingGauge{0.0, s, w, tint, false}.render(1);
  EXPECT_EQ(ringAlpha(zero, s, w, 0.0), 255);  // the dot at the top
  EXPECT_NEAR(ringAlpha(zero, s, w, 0.25), faint, 2);

  const QImage quarter = RingGauge{0.25, s, w, tint, false}.render(1);
  EXPECT_EQ(ringAlpha(quarter, s, w, 0.125), 255);  // half past one: inside the arc
  EXPECT_NEAR(ringAlpha(quarter, s, w, 0.875), faint, 2);  // half past ten: track only

  const QImage over = RingGauge{1.4, s, w, tint, false}.render(1);
  for (double t : {0.1, 0.4, 0.6, 0.9}) EXPECT_EQ(ringAlpha(over, s, w, t), 255);
  // The outer edge touches the square, the middle stays empty without a label.
  EXPECT_GT(test::alphaAt(over, 48, 0), 0);
  EXPECT_EQ(test::alphaAt(over, 48, 48), 0);
}

TEST(RingGauge, LabelIsDrawnInTheMiddle) {
  const QImage labelled = RingGauge{0.5, 96, 8, QColor(Qt::black), true}.render(1);
  const QImage plain = RingGauge{0.5, 96, 8, QColor(Qt::black), false}.render(1);
  double middleInk = 0, plainMiddle = 0;
  for (int y = 30; y < 66; ++y)
    for (int x = 20; x < 76; ++x) {
      middleInk += test::alphaAt(labelled, x, y);
      plainMiddle += test::alphaAt(plain, x, y);
    }
  EXPECT_GT(middleInk, 0);
  EXPECT_EQ(plainMiddle, 0);
}

}  // namespace
}  // namespace brimvale
