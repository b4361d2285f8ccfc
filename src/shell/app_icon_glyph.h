#pragma once
// The application's own mark: the "AppIcon" picture used as a mask (its alpha
// only), tinted in one colour. Without the picture it falls back to the
// Claude mark.

#include <QColor>
#include <QImage>

class QPainter;

namespace brimvale {

struct AppIconGlyph {
  double size = 18;
  QColor color;

  // The process-wide picture, loaded once on first use; null when missing.
  static const QImage& image();
  void paint(QPainter& painter) const;
};

// `mask` stretched to a size × size square and tinted in color, drawn with the
// painter's opacity. Rendered at the painter's effective pixel scale.
void paintAlphaMask(QPainter& painter, const QImage& mask, double size, const QColor& color);

}  // namespace brimvale
