#pragma once
// A connection's menu-bar picture: a faint copy of its glyph with a fully
// opaque copy revealed from the bottom by the used fraction (ink-proportional),
// or, for a photo, the photo at an opacity that shows the fraction.

#include <optional>

#include <QColor>
#include <QImage>

#include "connections/ai_connection.h"
#include "model/kinds.h"
#include "shell/menu_bar_glyph.h"

class QPainter;

namespace brimvale {

struct FilledMenuBarIcon {
  static constexpr double kTrackOpacity = 0.28;

  IconStyle style = IconStyle::app;
  ProviderKind provider = ProviderKind::generic;
  std::optional<double> fraction;  // unclamped; absent: no fill
  double size = 18;
  QColor color = MenuBarGlyph::defaultColor();
  std::optional<QImage> image;  // the photo, only for the photo style

  // The style that is drawn: a photo style without a photo shows the app glyph.
  IconStyle glyphStyle() const;
  bool showsPhoto() const;
  // Opacity of a photo: 0.15 at no usage, rising to 1 when used up.
  static double photoOpacity(std::optional<double> fraction);
  // The revealed height as a share of the edge (0 when nothing is filled).
  double fillHeight() const;

  void paint(QPainter& painter) const;
  // A transparent picture of size × size at the device-pixel ratio; null when
  // it could not be rendered.
  QImage render(double devicePixelRatio) const;
};

}  // namespace brimvale
