#include "shell/icon_store.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QPainter>

#include "platform/atomic_file.h"

namespace brimvale {

namespace {
// A photo is a small PNG; anything far larger is not ours.
constexpr qint64 kMaxPhotoBytes = 8 * 1024 * 1024;
}  // namespace

IconStore::IconStore(std::string exchangeFolder) : exchangeFolder_(std::move(exchangeFolder)) {}

std::string IconStore::folder() const { return exchangeFolder_ + "/icons"; }

std::optional<std::string> IconStore::path(const std::string& id) const {
  if (id.empty() || id == "." || id == ".." || id.find('/') != std::string::npos ||
      id.find('\0') != std::string::npos)
    return std::nullopt;
  return folder() + "/" + id + ".png";
}

bool IconStore::exists(const std::string& id) const {
  const auto file = path(id);
  if (!file) return false;
  std::error_code ec;
  return std::filesystem::exists(*file, ec);
}

std::optional<QImage> IconStore::load(const std::string& id) const {
  const auto file = path(id);
  if (!file) return std::nullopt;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(*file, ec)) return std::nullopt;
  const auto bytes = std::filesystem::file_size(*file, ec);
  if (ec || bytes > static_cast<std::uintmax_t>(kMaxPhotoBytes)) return std::nullopt;
  QImageReader reader(QString::fromStdString(*file));
  QImage image = reader.read();
  if (image.isNull()) return std::nullopt;
  return image;
}

QImage IconStore::renderPhoto(const QImage& source) {
  QImage out(kPhotoSize, kPhotoSize, QImage::Format_RGBA8888);
  if (out.isNull()) return {};
  out.fill(Qt::transparent);
  if (source.isNull()) return out;

  const QSizeF points = source.deviceIndependentSize();
  const double w = points.width(), h = points.height();
  const double fw = w <= 1 ? kPhotoSize : kPhotoSize / w;
  const double fh = h <= 1 ? kPhotoSize : kPhotoSize / h;
  const double factor = std::max(fw, fh);
  const QSizeF drawn(w * factor, h * factor);
  const QRectF target(QPointF((kPhotoSize - drawn.width()) / 2, (kPhotoSize - drawn.height()) / 2),
                      drawn);

  QPainter p(&out);
  if (!p.isActive()) return {};
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.drawImage(target, source);
  p.end();
  return out;
}

bool IconStore::save(const QImage& image, const std::string& id) const {
  const auto file = path(id);
  if (!file) return false;
  const QImage photo = renderPhoto(image);
  if (photo.isNull()) return false;

  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !photo.save(&buffer, "PNG")) return false;
  buffer.close();

  (void)createDirectories(folder());
  return !writeFileAtomically(*file, std::string_view(png.constData(), png.size())).has_value();
}

void IconStore::remove(const std::string& id) const {
  const auto file = path(id);
  if (!file) return;
  std::error_code ec;
  std::filesystem::remove(*file, ec);
}

}  // namespace brimvale
