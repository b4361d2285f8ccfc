#pragma once

namespace brimvale {

// A plain sRGB colour, components 0..1.
struct RGBColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  bool operator==(const RGBColor&) const = default;
};

// The platform's mint (#00C7BE) and accent colour.
inline constexpr RGBColor kMintColor{0.0, 199.0 / 255.0, 190.0 / 255.0, 1.0};
inline constexpr RGBColor kAccentColor{0.0, 122.0 / 255.0, 1.0, 1.0};

}  // namespace brimvale
