#pragma once
// Conversions between the model's plain colours and Qt's.

#include <QColor>

#include "model/color.h"

namespace brimvale {

inline QColor toQColor(const RGBColor& c) {
  return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                          static_cast<float>(c.blue), static_cast<float>(c.alpha));
}

inline RGBColor toRGBColor(const QColor& c) {
  const QColor rgb = c.toRgb();
  return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

}  // namespace brimvale
