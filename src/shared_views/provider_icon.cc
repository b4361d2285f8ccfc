#include "shared_views/provider_icon.h"

#include <array>
#include <cmath>
#include <numbers>

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include "shared_views/qt_color.h"

namespace brimvale {

namespace {

constexpr double kPi = std::numbers::pi;

QPen strokePen(const QColor& color, double width, Qt::PenCapStyle cap, Qt::PenJoinStyle join) {
  QPen pen(color);
  pen.setWidthF(width);
  pen.setCapStyle(cap);
  pen.setJoinStyle(join);
  pen.setMiterLimit(10);
  pen.setStyle(Qt::SolidLine);
  return pen;
}

void paintClaude(QPainter& p, double s, const QColor& c) {
  static constexpr std::array<double, 12> kLength{1.0, 0.62, 0.88, 0.6,  0.97, 0.64,
                                                  1.0, 0.62, 0.9,  0.6,  0.95, 0.64};
  const double cx = s / 2, cy = s / 2;
  QPainterPath rays;
  for (int i = 0; i < 12; ++i) {
    const double a = (i / 12.0) * 2 * kPi - kPi / 2 + 0.13;
    rays.moveTo(cx + 0.07 * s * std::cos(a), cy + 0.07 * s * std::sin(a));
    rays.lineTo(cx + 0.46 * s * kLength[i] * std::cos(a), cy + 0.46 * s * kLength[i] * std::sin(a));
  }
  p.strokePath(rays, strokePen(c, 0.12 * s, Qt::RoundCap, Qt::MiterJoin));
}

void paintGPT(QPainter& p, double s, const QColor& c) {
  const double cx = s / 2, cy = s / 2, r = 0.44 * s;
  std::array<QPointF, 6> pts;
  for (int k = 0; k < 6; ++k) {
    const double t = (k / 6.0) * 2 * kPi - kPi / 2;
    pts[k] = QPointF(cx + r * std::cos(t), cy + r * std::sin(t));
  }
  QPainterPath chords;
  for (int i = 0; i < 6; ++i) {
    chords.moveTo(pts[i]);
    chords.lineTo(pts[(i + 2) % 6]);
  }
  p.strokePath(chords, strokePen(c, 0.11 * s, Qt::RoundCap, Qt::MiterJoin));
}

void paintCursor(QPainter& p, double s, const QColor& c) {
  const double cx = s / 2, cy = s / 2, r = 0.44 * s, h = r * std::sqrt(3.0) / 2;
  const std::array<QPointF, 6> v{QPointF(cx, cy - r),     QPointF(cx + h, cy - r / 2),
                                 QPointF(cx + h, cy + r / 2), QPointF(cx, cy + r),
                                 QPointF(cx - h, cy + r / 2), QPointF(cx - h, cy - r / 2)};
  QPainterPath cube;
  cube.moveTo(v[0]);
  for (int i = 1; i < 6; ++i) cube.lineTo(v[i]);
  cube.closeSubpath();
  for (int i : {0, 2, 4}) {
    cube.moveTo(cx, cy);
    cube.lineTo(v[i]);
  }
  p.strokePath(cube, strokePen(c, 0.1 * s, Qt::RoundCap, Qt::RoundJoin));
}

void paintGrok(QPainter& p, double s, const QColor& c) {
  QPainterPath slashes;
  slashes.moveTo(0.14 * s, 0.86 * s);
  slashes.lineTo(0.86 * s, 0.14 * s);
  slashes.moveTo(0.14 * s, 0.14 * s);
  slashes.lineTo(0.38 * s, 0.38 * s);
  slashes.moveTo(0.62 * s, 0.62 * s);
  slashes.lineTo(0.86 * s, 0.86 * s);
  p.strokePath(slashes, strokePen(c, 0.13 * s, Qt::RoundCap, Qt::MiterJoin));
}

void paintGemini(QPainter& p, double s, const QColor& c) {
  const double cx = s / 2, cy = s / 2, r = s / 2, d = 0.18 * r;
  QPainterPath star;
  star.moveTo(cx, cy - r);
  star.quadTo(cx + d, cy - d, cx + r, cy);
  star.quadTo(cx + d, cy + d, cx, cy + r);
  star.quadTo(cx - d, cy + d, cx - r, cy);
  star.quadTo(cx - d, cy - d, cx, cy - r);
  star.closeSubpath();
  p.fillPath(star, c);
}

// Three rising bars on a common baseline, about three quarters of the square.
void paintGeneric(QPainter& p, double s, const QColor& c) {
  const double barWidth = 0.18 * s, gap = 0.09 * s, bottom = 0.85 * s, radius = 0.035 * s;
  const double left = (s - (3 * barWidth + 2 * gap)) / 2;
  const std::array<double, 3> heights{0.32 * s, 0.5 * s, 0.7 * s};
  QPainterPath bars;
  for (int i = 0; i < 3; ++i) {
    const double x = left + i * (barWidth + gap);
    bars.addRoundedRect(QRectF(x, bottom - heights[i], barWidth, heights[i]), radius, radius);
  }
  p.fillPath(bars, c);
}

}  // namespace

QColor ProviderIcon::effectiveColor() const {
  return color ? *color : toQColor(brandColor(kind));
}

void ProviderIcon::paint(QPainter& p) const {
  const QColor c = effectiveColor();
  const double s = size;
  if (!(s > 0)) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  switch (kind) {
    case ProviderKind::claude: paintClaude(p, s, c); break;
    case ProviderKind::gpt: paintGPT(p, s, c); break;
    case ProviderKind::cursor: paintCursor(p, s, c); break;
    case ProviderKind::grok: paintGrok(p, s, c); break;
    case ProviderKind::gemini: paintGemini(p, s, c); break;
    case ProviderKind::generic: paintGeneric(p, s, c); break;
  }
  p.restore();
}

QImage ProviderIcon::render(double dpr) const {
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
