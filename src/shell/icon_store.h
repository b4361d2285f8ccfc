#pragma once
// Photos used as menu-bar icons: one 96 × 96 RGBA PNG per connection in the
// exchange folder's "icons" folder, named after the connection id.

#include <optional>
#include <string>

#include <QImage>

namespace brimvale {

class IconStore {
 public:
  static constexpr int kPhotoSize = 96;

  explicit IconStore(std::string exchangeFolder);

  std::string folder() const;  // <exchange folder>/icons
  // The photo file of an id; absent for an id that is not a plain file name
  // (empty, ".", "..", or containing "/" or NUL).
  std::optional<std::string> path(const std::string& id) const;

  bool exists(const std::string& id) const;
  std::optional<QImage> load(const std::string& id) const;
  // Renders the image (aspect fill, centred crop) and writes it atomically.
  bool save(const QImage& image, const std::string& id) const;
  // Deletes the photo; a missing file or any error is ignored.
  void remove(const std::string& id) const;

  // The 96 × 96 RGBA rendering that save() writes.
  static QImage renderPhoto(const QImage& source);

 private:
  std::string exchangeFolder_;
};

}  // namespace brimvale
