#pragma once
// Ink profiles of glyphs: how much of a glyph's visible ink lies in its bottom
// rows, so that a fill reveals a share of the ink rather than of the height.

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>

class QPainter;

namespace brimvale::GlyphInkProfile {

inline constexpr int sampleSize = 96;
// Entry k: total alpha (0..1 per pixel) of the bottom k + 1 rows of the
// 96 × 96 rendering; never decreasing, the last entry is the total ink.
using Profile = std::array<double, sampleSize>;
// Paints a glyph into the square (0, 0, 96, 96).
using GlyphPainter = std::function<void(QPainter&)>;

// Process-wide, main thread only; entries are never removed or replaced.
std::map<std::string, Profile>& cache();

// Renders the glyph at 96 × 96, scale 1, and measures it (uncached). Absent
// when the rendering fails.
std::optional<Profile> measure(const GlyphPainter& glyph);
// The cached profile under key, measured and stored on first use.
std::optional<Profile> profile(const std::string& key, const GlyphPainter& glyph);
// Fill height (fraction of the edge) that reveals the share f (0 < f < 1) of
// the ink; linear without a profile or with no ink at all.
double heightFor(const Profile* profile, double f);
// The same for any fraction: clamped to [0, 1], 0 for 0 or not-a-number, 1 for
// 1; the glyph is only produced when a profile is needed.
double maskHeight(const std::string& key, double fraction,
                  const std::function<GlyphPainter()>& profileGlyph);

}  // namespace brimvale::GlyphInkProfile
