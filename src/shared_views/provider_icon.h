#pragma once
// The vendor marks: one simple geometric mark per provider, built from strokes
// and fills in a square, drawn in a single colour on a transparent background
// so it can be tinted with a connection's colour and profiled for ink.

#include <optional>

#include <QColor>
#include <QImage>

#include "model/kinds.h"

class QPainter;

namespace brimvale {

struct ProviderIcon {
  ProviderKind kind = ProviderKind::generic;
  double size = 18;  // edge of the square, device-independent pixels
  std::optional<QColor> color;  // absent: the kind's brand colour

  QColor effectiveColor() const;
  // Draws into the square (0, 0, size, size) of the painter's coordinates.
  void paint(QPainter& painter) const;
  // A transparent picture of size × size at the given device-pixel ratio.
  QImage render(double devicePixelRatio = 1.0) const;
};

}  // namespace brimvale
