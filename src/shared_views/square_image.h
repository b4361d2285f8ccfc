#pragma once
// Rendering a square drawing (an icon, a gauge) into an image for a screen of
// a given device pixel ratio.

#include <functional>

#include <QImage>

class QPainter;

namespace brimvale {

// A transparent square image of `size` logical pixels at device pixel ratio
// dpr (round(size * dpr) physical pixels a side) with paint(painter) drawn on
// it in logical pixels. A null image when that is less than one pixel or the
// image cannot be allocated.
QImage renderSquare(double size, double dpr, const std::function<void(QPainter&)>& paint);

}  // namespace brimvale
