// brimvale-iconsheet OUTDIR [--photo FILE]
//
// Draws what the tray shows into PNG files so a person can look at it: every
// icon style at the used fractions none, 0, 0.25, 0.5, 1 and 1.3 (the
// automatic style once per provider, the photo style with a photo), every
// provider mark in its brand colour and in a connection colour, and the ring
// gauge states. Runs without a display.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include "connections/ai_connection.h"
#include "shared_views/provider_icon.h"
#include "shared_views/ring_gauge.h"
#include "shell/filled_menu_bar_icon.h"
#include "shell/icon_store.h"

using namespace brimvale;

namespace {

struct Row {
  std::string label;
  IconStyle style;
  ProviderKind provider;
};

// A stand-in photo: a sunset-coloured gradient with a sun and a hill, wider
// than high so the square crop shows.
QImage samplePhoto() {
  QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 200);
  sky.setColorAt(0, QColor(40, 60, 160));
  sky.setColorAt(1, QColor(250, 150, 80));
  p.fillRect(image.rect(), sky);
  QRadialGradient sun(150, 110, 45);
  sun.setColorAt(0, QColor(255, 240, 160));
  sun.setColorAt(1, QColor(255, 190, 60));
  p.setBrush(sun);
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(150, 110), 45, 45);
  p.setBrush(QColor(40, 110, 60));
  p.drawEllipse(QPointF(150, 260), 220, 110);
  return image;
}

bool savePNG(const QImage& image, const QString& path) {
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  return true;
}

QImage sheet(int width, int height) {
  QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
  out.fill(QColor(48, 48, 52));
  return out;
}

void label(QPainter& p, const QRectF& box, const QString& text) {
  p.setPen(QColor(220, 220, 220));
  QFont font = p.font();
  font.setPixelSize(13);
  p.setFont(font);
  p.drawText(box, Qt::AlignCenter, text);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  std::optional<QString> outDir;
  std::optional<QString> photoFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--photo" && i + 1 < argc) photoFile = QString::fromLocal8Bit(argv[++i]);
    else if (!outDir) outDir = QString::fromLocal8Bit(argv[i]);
  }
  if (!outDir) {
    std::fprintf(stderr, "usage: brimvale-iconsheet OUTDIR [--photo FILE]\n");
    return 2;
  }
  QDir dir(*outDir);
  if (!dir.mkpath(QStringLiteral("icons"))) {
    std::fprintf(stderr, "cannot create %s\n", outDir->toLocal8Bit().constData());
    return 1;
  }

  QImage photoSource = photoFile ? QImage(*photoFile) : samplePhoto();
  if (photoSource.isNull()) photoSource = samplePhoto();
  const QImage photo = IconStore::renderPhoto(photoSource);
  bool ok = savePNG(photo, dir.filePath(QStringLiteral("photo-96.png")));

  std::vector<Row> rows;
  for (IconStyle style : kAllIconStyles) {
    if (style == IconStyle::automatic) {
      for (ProviderKind kind : kAllProviderKinds)
        rows.push_back({"auto-" + std::string(rawValue(kind)), style, kind});
    } else {
      rows.push_back({std::string(rawValue(style)), style, ProviderKind::generic});
    }
  }
  rows.push_back({"photo (none)", IconStyle::photo, ProviderKind::generic});

  const std::vector<std::optional<double>> fractions{std::nullopt, 0.0, 0.25, 0.5, 1.0, 1.3};
  const QColor connectionColor(0x00, 0xC7, 0xBE);
  const double dpr = 4;  // 18-point icons at 72 pixels, so the fill is easy to see
  const int cell = 90, labelWidth = 130, header = 30;
  QImage styles = sheet(labelWidth + cell * int(fractions.size()), header + cell * int(rows.size()));
  {
    QPainter p(&styles);
    for (size_t c = 0; c < fractions.size(); ++c) {
      const QString title = fractions[c] ? QString::number(*fractions[c]) : QStringLiteral("none");
      label(p, QRectF(labelWidth + c * cell, 0, cell, header), title);
    }
    for (size_t r = 0; r < rows.size(); ++r) {
      const Row& row = rows[r];
      label(p, QRectF(0, header + r * cell, labelWidth, cell), QString::fromStdString(row.label));
      for (size_t c = 0; c < fractions.size(); ++c) {
        FilledMenuBarIcon icon{row.style, row.provider, fractions[c], 18, connectionColor,
                               std::nullopt};
        if (row.style == IconStyle::photo && row.label == "photo") icon.image = photo;
        const QImage big = icon.render(dpr);
        const QImage real = icon.render(2);  // what a 2x panel shows: 36 x 36 pixels
        const QString name = QString::fromStdString(row.label).replace(' ', '_') + "-" +
                             (fractions[c] ? QString::number(*fractions[c]) : QStringLiteral("none"));
        ok &= savePNG(real, dir.filePath("icons/" + name + "@2x.png"));
        const double x = labelWidth + c * cell + (cell - 72) / 2.0;
        const double y = header + r * cell + (cell - 72) / 2.0;
        p.drawImage(QRectF(x, y, 72, 72), big);
      }
    }
  }
  ok &= savePNG(styles, dir.filePath(QStringLiteral("styles.png")));

  // Provider marks: brand colour, a connection colour, and black.
  const std::vector<std::optional<QColor>> markColors{std::nullopt, QColor(0xFF, 0x9F, 0x0A),
                                                      QColor(Qt::white)};
  const int markCell = 120;
  QImage marks = sheet(markCell * int(kAllProviderKinds.size()), header + markCell * 3);
  {
    QPainter p(&marks);
    for (size_t k = 0; k < kAllProviderKinds.size(); ++k) {
      const ProviderKind kind = kAllProviderKinds[k];
      label(p, QRectF(k * markCell, 0, markCell, header), QString::fromUtf8(rawValue(kind).data()));
      for (size_t c = 0; c < markColors.size(); ++c) {
        const ProviderIcon mark{kind, 96, markColors[c]};
        const QImage image = mark.render(1);
        p.drawImage(QPointF(k * markCell + 12, header + c * markCell + 12), image);
        if (c == 0)
          ok &= savePNG(image, dir.filePath("mark-" + QString::fromUtf8(rawValue(kind).data()) + ".png"));
      }
    }
  }
  ok &= savePNG(marks, dir.filePath(QStringLiteral("marks.png")));

  // Ring gauges: small and large, with and without the label.
  const std::vector<std::optional<double>> ringFractions{std::nullopt, 0.0, 0.25, 0.5, 0.75, 1.0,
                                                         1.4};
  const int ringCell = 100;
  QImage rings = sheet(ringCell * int(ringFractions.size()), header + ringCell * 2);
  {
    QPainter p(&rings);
    for (size_t c = 0; c < ringFractions.size(); ++c) {
      const QString title =
          ringFractions[c] ? QString::number(*ringFractions[c]) : QStringLiteral("none");
      label(p, QRectF(c * ringCell, 0, ringCell, header), title);
      RingGauge large{ringFractions[c], 80, 8, QColor(0x00, 0xC7, 0xBE), true};
      p.drawImage(QPointF(c * ringCell + 10, header + 10), large.render(1));
      RingGauge small{ringFractions[c], 14, 2.5, QColor(Qt::white), false};
      p.drawImage(QRectF(c * ringCell + 22, header + ringCell + 22, 56, 56), small.render(4));
    }
  }
  ok &= savePNG(rings, dir.filePath(QStringLiteral("rings.png")));
  return ok ? 0 : 1;
}
