#include "shared_views/ring_gauge.h"

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPen>

#include "model/formatting.h"

namespace brimvale {

QColor RingGauge::effectiveTint() const {
  if (tint) return *tint;
  if (qGuiApp) return QGuiApplication::palette().color(QPalette::WindowText);
  return QColor(Qt::black);
}

std::optional<double> RingGauge::arcFraction() const {
  if (!fraction) return std::nullopt;
  if (std::isnan(*fraction)) return 0.004;
  return std::min(std::max(*fraction, 0.004), 1.0);
}

std::string RingGauge::labelText() const {
  if (!fraction || std::isnan(*fraction)) return "—";
  return fmtPercent(*fraction);
}

void RingGauge::paint(QPainter& p) const {
  const double s = size;
  if (!(s > 0)) return;
  const QColor c = effectiveTint();
  const double inset = lineWidth / 2;
  const QRectF circle(inset, inset, s - lineWidth, s - lineWidth);

  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setBrush(Qt::NoBrush);

  QColor faded = c;
  faded.setAlphaF(c.alphaF() * 0.22f);
  QPen track(faded);
  track.setWidthF(lineWidth);
  track.setCapStyle(Qt::FlatCap);
  p.setPen(track);
  p.drawEllipse(circle);

  if (auto q = arcFraction()) {
    QPen arc(c);
    arc.setWidthF(lineWidth);
    arc.setCapStyle(Qt::RoundCap);
    p.setPen(arc);
    // Qt's angles run counter-clockwise from three o'clock: start at the top
    // and sweep a negative span to go clockwise.
    QPainterPath path;
    path.arcMoveTo(circle, 90);
    path.arcTo(circle, 90, -360.0 * *q);
    p.drawPath(path);
  }

  if (showLabel) {
    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(0.28 * s))));
    p.setFont(font);
    p.setPen(c);
    p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, QString::fromStdString(labelText()));
  }
  p.restore();
}

QImage RingGauge::render(double dpr) const {
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
