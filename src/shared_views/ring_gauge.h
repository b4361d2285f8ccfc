#pragma once
// A used fraction as a ring that fills clockwise from the top, with an
// optional percentage in its middle.

#include <optional>
#include <string>

#include <QColor>
#include <QImage>

class QPainter;

namespace brimvale {

struct RingGauge {
  std::optional<double> fraction;  // absent: only the track
  double size = 14;
  double lineWidth = 2.5;
  std::optional<QColor> tint;  // absent: the palette's text colour
  bool showLabel = false;

  QColor effectiveTint() const;
  // The arc's share of the circle: the fraction clamped to [0.004, 1], so a
  // zero still shows a dot and an overrun a closed ring. Absent without one.
  std::optional<double> arcFraction() const;
  // The middle text: the unclamped percentage, or "—" without a fraction.
  std::string labelText() const;

  void paint(QPainter& painter) const;
  QImage render(double devicePixelRatio = 1.0) const;
};

}  // namespace brimvale
