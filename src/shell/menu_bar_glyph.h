#pragma once
// One unfilled menu-bar glyph of an icon style, in one colour.

#include <optional>
#include <string>

#include <QColor>
#include <QImage>

#include "connections/ai_connection.h"
#include "model/kinds.h"

class QPainter;

namespace brimvale {

struct MenuBarGlyph {
  IconStyle style = IconStyle::app;
  ProviderKind provider = ProviderKind::generic;
  double size = 18;
  QColor color = defaultColor();
  std::optional<QImage> image;  // the photo of the photo style

  // Draws into the square (0, 0, size, size).
  void paint(QPainter& painter) const;

  // A connection's default colour (kDefaultColorHex).
  static QColor defaultColor() { return QColor(0x00, 0xC7, 0xBE); }
};

// The key under which a glyph's ink profile is cached: the style's raw value,
// "auto-" + the provider's for the automatic style. A photo style has no key of
// its own; it fills like the app glyph.
std::string profileKey(IconStyle style, ProviderKind provider);

}  // namespace brimvale
