#include "shell/icon_store.h"

#include <filesystem>

#include <QImageReader>
#include <gtest/gtest.h>

#include "support/test_env.h"

namespace brimvale {
namespace {

const std::string kID = "0F6A1B2C-3D4E-4F50-8A6B-7C8D9E0F1A2B";

// Red on the left quarter, green in the middle half, blue on the right quarter.
QImage threeBands() {
  QImage image(200, 100, QImage::Format_ARGB32);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x)
      image.setPixel(x, y, x < 50 ? qRgb(255, 0, 0) : x < 150 ? qRgb(0, 255, 0) : qRgb(0, 0, 255));
  return image;
}

TEST(IconStore, SaveKeepsTheCentralSquareAsA96PixelRGBAPNG) {
  test::TempDir dir;
  IconStore store(dir.path());
  ASSERT_TRUE(store.save(threeBands(), kID));
  const std::string file = dir / ("icons/" + kID + ".png");
  ASSERT_TRUE(std::filesystem::exists(file));

  QImageReader reader(QString::fromStdString(file));
  EXPECT_EQ(reader.format(), QByteArray("png"));
  const QImage saved = reader.read();
  ASSERT_EQ(saved.size(), QSize(96, 96));
  EXPECT_TRUE(saved.hasAlphaChannel());
  // Scaled by 0.96 to 192 × 96, the central 96 columns are the green band.
  int notGreen = 0;
  for (int y = 0; y < 96; ++y)
    for (int x = 1; x < 95; ++x)
      if (saved.pixel(x, y) != qRgba(0, 255, 0, 255)) ++notGreen;
  EXPECT_EQ(notGreen, 0);

  EXPECT_TRUE(store.exists(kID));
  const auto loaded = store.load(kID);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->size(), QSize(96, 96));
}

TEST(IconStore, TallImagesAreCroppedToTheirMiddleToo) {
  QImage tall(50, 150, QImage::Format_ARGB32);
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 50; ++x) tall.setPixel(x, y, y < 50 || y >= 100 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
  const QImage photo = IconStore::renderPhoto(tall);
  ASSERT_EQ(photo.size(), QSize(96, 96));
  EXPECT_EQ(photo.pixel(48, 48), qRgba(255, 255, 255, 255));
  EXPECT_EQ(photo.pixel(48, 1), qRgba(255, 255, 255, 255));
  EXPECT_EQ(photo.pixel(48, 94), qRgba(255, 255, 255, 255));
}

TEST(IconStore, EmptyAndPathLikeIdsAreRefused) {
  test::TempDir dir;
  IconStore store(dir.path() + "/exchange");
  for (const std::string id : {"", ".", "..", "../escape", "a/b"}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(store.save(threeBands(), id));
    EXPECT_FALSE(store.exists(id));
    EXPECT_FALSE(store.load(id));
    store.remove(id);  // ignored
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "escape.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "exchange/icons"));
}

TEST(IconStore, MissingOrCorruptPhotosLoadAsNothingAndRemoveIgnoresErrors) {
  test::TempDir dir;
  IconStore store(dir.path());
  EXPECT_FALSE(store.exists(kID));
  EXPECT_FALSE(store.load(kID));
  store.remove(kID);  // missing: ignored

  dir.write("icons/" + kID + ".png", std::string("\x89PNG\r\n\x1a\n truncated", 19));
  EXPECT_TRUE(store.exists(kID));
  EXPECT_FALSE(store.load(kID));
  store.remove(kID);
  EXPECT_FALSE(store.exists(kID));
}

TEST(IconStore, SavingReplacesTheFormerPhoto) {
  test::TempDir dir;
  IconStore store(dir.path());
  QImage red(10, 10, QImage::Format_ARGB32);
  red.fill(Qt::red);
  ASSERT_TRUE(store.save(red, kID));
  ASSERT_TRUE(store.save(threeBands(), kID));
  EXPECT_EQ(store.load(kID)->pixel(48, 48), qRgba(0, 255, 0, 255));
  // Only the photo is left in the folder: no temporary files.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir / "icons")) ++files;
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace brimvale
