#include "shell/glyph_ink_profile.h"

#include <algorithm>
#include <cmath>

#include <QImage>
#include <QPainter>

namespace brimvale::GlyphInkProfile {

std::map<std::string, Profile>& cache() {
  static std::map<std::string, Profile> profiles;
  return profiles;
}

std::optional<Profile> measure(const GlyphPainter& glyph) {
  QImage image(sampleSize, sampleSize, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return std::nullopt;
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    if (!p.isActive()) return std::nullopt;
    if (glyph) glyph(p);
  }
  const QImage pixels = image.convertToFormat(QImage::Format_ARGB32);
  if (pixels.isNull()) return std::nullopt;

  Profile rows{};
  const int height = std::min(pixels.height(), sampleSize);
  for (int y = 0; y < height; ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
    double ink = 0;
    for (int x = 0; x < pixels.width(); ++x) ink += qAlpha(line[x]) / 255.0;
    rows[sampleSize - 1 - y] = ink;
  }
  for (int k = 1; k < sampleSize; ++k) rows[k] += rows[k - 1];
  return rows;
}

std::optional<Profile> profile(const std::string& key, const GlyphPainter& glyph) {
  auto& profiles = cache();
  if (auto it = profiles.find(key); it != profiles.end()) return it->second;
  auto measured = measure(glyph);
  if (!measured) return std::nullopt;
  return profiles.emplace(key, *measured).first->second;
}

double heightFor(const Profile* profile, double f) {
  if (!profile) return f;
  const Profile& P = *profile;
  const double total = P[sampleSize - 1];
  if (!(total > 0)) return f;
  const double target = f * total;
  for (int i = 0; i < sampleSize; ++i) {
    if (target <= P[i]) {
      const double prev = i == 0 ? 0.0 : P[i - 1];
      const double row = P[i] - prev;
      const double within = row > 0 ? (target - prev) / row : 0.0;
      return (i + within) / sampleSize;
    }
  }
  return f;
}

double maskHeight(const std::string& key, double fraction,
                  const std::function<GlyphPainter()>& profileGlyph) {
  if (std::isnan(fraction)) return 0;
  const double f = std::clamp(fraction, 0.0, 1.0);
  if (f == 0) return 0;
  if (f == 1) return 1;
  std::optional<Profile> p;
  if (auto it = cache().find(key); it != cache().end()) {
    p = it->second;
  } else if (profileGlyph) {
    p = profile(key, profileGlyph());
  }
  return heightFor(p ? &*p : nullptr, f);
}

}  // namespace brimvale::GlyphInkProfile
