#include "shell/menu_bar_glyph.h"

#include <QPainter>

#include "shared_views/provider_icon.h"
#include "shell/app_icon_glyph.h"

namespace brimvale {

namespace {
std::optional<ProviderKind> namedMark(IconStyle style) {
  switch (style) {
    case IconStyle::claude: return ProviderKind::claude;
    case IconStyle::gpt: return ProviderKind::gpt;
    case IconStyle::gemini: return ProviderKind::gemini;
    case IconStyle::cursor: return ProviderKind::cursor;
    case IconStyle::grok: return ProviderKind::grok;
    case IconStyle::chart: return ProviderKind::generic;
    default: return std::nullopt;
  }
}
}  // namespace

void MenuBarGlyph::paint(QPainter& p) const {
  switch (style) {
    case IconStyle::app:
      AppIconGlyph{size, color}.paint(p);
      return;
    case IconStyle::automatic:
      ProviderIcon{provider, size, color}.paint(p);
      return;
    case IconStyle::photo:
      if (image && !image->isNull()) {
        p.save();
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.drawImage(QRectF(0, 0, size, size), *image);
        p.restore();
      } else {
        AppIconGlyph{size, color}.paint(p);
      }
      return;
    default:
      ProviderIcon{*namedMark(style), size, color}.paint(p);
      return;
  }
}

std::string profileKey(IconStyle style, ProviderKind provider) {
  if (style == IconStyle::photo) style = IconStyle::app;
  if (style == IconStyle::automatic) return "auto-" + std::string(rawValue(provider));
  return std::string(rawValue(style));
}

}  // namespace brimvale
