#include "shell/app_icon_glyph.h"

#include <algorithm>
#include <cmath>

#include <QPaintDevice>
#include <QPainter>

#include "shared_views/provider_icon.h"

namespace brimvale {

const QImage& AppIconGlyph::image() {
  static const QImage loaded = [] {
    QImage picture(QStringLiteral(":/brimvale/AppIcon.png"));
    if (picture.isNull()) return QImage();
    return picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  }();
  return loaded;
}

void paintAlphaMask(QPainter& p, const QImage& mask, double size, const QColor& color) {
  if (mask.isNull() || !(size > 0)) return;
  // Pixels the square will cover on the device.
  const QTransform t = p.combinedTransform();
  const double scale = std::max(std::hypot(t.m11(), t.m12()), std::hypot(t.m21(), t.m22()));
  const double dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
  const int px = std::clamp(static_cast<int>(std::ceil(size * scale * dpr)), 1, 4096);

  QImage tinted = mask.scaled(px, px, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  {
    QPainter tint(&tinted);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(tinted.rect(), color);
  }
  p.save();
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  p.drawImage(QRectF(0, 0, size, size), tinted);
  p.restore();
}

void AppIconGlyph::paint(QPainter& p) const {
  const QImage& mask = image();
  if (mask.isNull()) {
    ProviderIcon{ProviderKind::claude, size, color}.paint(p);
    return;
  }
  paintAlphaMask(p, mask, size, color);
}

}  // namespace brimvale
