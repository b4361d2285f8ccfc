#pragma once
// Reading rendered pictures back in tests.

#include <cmath>
#include <functional>

#include <QImage>
#include <QPainter>

namespace brimvale::test {

// Straight (not premultiplied) 8-bit ARGB, for reading colours and alpha.
inline QImage straight(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); }

inline int alphaAt(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)); }

inline double totalAlpha(const QImage& image) {
  const QImage s = straight(image);
  double sum = 0;
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x) sum += qAlpha(s.pixel(x, y)) / 255.0;
  return sum;
}

// A transparent size × size picture painted by paint, at scale 1.
inline QImage paintToImage(int size, const std::function<void(QPainter&)>& paint) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  paint(p);
  p.end();
  return image;
}

}  // namespace brimvale::test
