#include "shared_views/square_image.h"

#include <cmath>

#include <QPainter>

namespace brimvale {

QImage renderSquare(double size, double dpr, const std::function<void(QPainter&)>& paint) {
  const int px = static_cast<int>(std::lround(size * dpr));
  if (px <= 0) return {};
  QImage image(px, px, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return {};
  image.setDevicePixelRatio(dpr);
  image.fill(Qt::transparent);
  QPainter p(&image);
  paint(p);
  p.end();
  return image;
}

}  // namespace brimvale
