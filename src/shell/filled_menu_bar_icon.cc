#include "shell/filled_menu_bar_icon.h"

#include <algorithm>
#include <cmath>

#include <QPainter>

#include "shell/glyph_ink_profile.h"

namespace brimvale {

IconStyle FilledMenuBarIcon::glyphStyle() const {
  return style == IconStyle::photo ? IconStyle::app : style;
}

bool FilledMenuBarIcon::showsPhoto() const {
  return style == IconStyle::photo && image && !image->isNull();
}

double FilledMenuBarIcon::photoOpacity(std::optional<double> f) {
  if (!f || std::isnan(*f) || *f <= 0) return 0.15;
  return 0.15 + 0.85 * std::min(*f, 1.0);
}

double FilledMenuBarIcon::fillHeight() const {
  if (!fraction || !(*fraction > 0)) return 0;
  if (*fraction >= 1) return 1;
  const IconStyle g = glyphStyle();
  const ProviderKind kind = provider;
  return GlyphInkProfile::maskHeight(profileKey(g, kind), *fraction, [g, kind] {
    return GlyphInkProfile::GlyphPainter([g, kind](QPainter& p) {
      MenuBarGlyph{g, kind, double(GlyphInkProfile::sampleSize), QColor(Qt::black), std::nullopt}
          .paint(p);
    });
  });
}

void FilledMenuBarIcon::paint(QPainter& p) const {
  if (!(size > 0)) return;
  if (showsPhoto()) {
    p.save();
    p.setOpacity(p.opacity() * photoOpacity(fraction));
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(QRectF(0, 0, size, size), *image);
    p.restore();
    return;
  }
  const MenuBarGlyph glyph{glyphStyle(), provider, size, color, std::nullopt};
  p.save();
  p.setOpacity(p.opacity() * kTrackOpacity);
  glyph.paint(p);
  p.restore();

  const double h = fillHeight();
  if (h > 0) {
    p.save();
    p.setClipRect(QRectF(0, size * (1 - h), size, size * h), Qt::IntersectClip);
    glyph.paint(p);
    p.restore();
  }
}

QImage FilledMenuBarIcon::render(double dpr) const {
  if (!(dpr > 0)) dpr = 1;
  const int px = static_cast<int>(std::lround(size * dpr));
  if (px <= 0) return {};
  QImage out(px, px, QImage::Format_ARGB32_Premultiplied);
  if (out.isNull()) return {};
  out.setDevicePixelRatio(dpr);
  out.fill(Qt::transparent);
  QPainter p(&out);
  if (!p.isActive()) return {};
  paint(p);
  p.end();
  return out;
}

}  // namespace brimvale
