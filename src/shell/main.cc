// brimvale [--home DIR]: the tray application. --home reads the tools' records
// and keeps the settings and exchange files under DIR instead of the real
// home, for trying the application on sample data.

#include <csignal>
#include <cstdio>
#include <string>

#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSocketNotifier>

#include "platform/paths.h"
#include "shell/app_delegate.h"
#include "shell/app_icon_glyph.h"

namespace {

void usage() { std::fprintf(stderr, "usage: brimvale [--home DIR]\n"); }

int signalPipe[2] = {-1, -1};

void onTerminate(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop like "종료", so the tray icons are
// taken down and a running cycle is waited for instead of cut off.
void quitOnTerminationSignals(QApplication& app) {
  if (pipe(signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
  struct sigaction action {};
  action.sa_handler = onTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

QIcon windowIcon() {
  QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  brimvale::AppIconGlyph{256, QColor(0x00, 0xC7, 0xBE)}.paint(p);
  p.end();
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace

int main(int argc, char** argv) {
  // Qt takes its own options (-platform, -display, ...) out of argv first.
  QApplication app(argc, argv);
  std::string home;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (arg.starts_with("--home=")) {
      home = arg.substr(7);
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      usage();
      return 2;
    }
  }
  if (home.empty()) home = brimvale::paths::realHome();

  QApplication::setApplicationName(QStringLiteral("Brimvale"));
  QApplication::setDesktopFileName(QStringLiteral("brimvale"));
  // No main window: closing any window must not end the tray application.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(windowIcon());
  quitOnTerminationSignals(app);

  brimvale::AppDelegate delegate({home, std::nullopt, true});
  delegate.applicationDidFinishLaunching();
  return QApplication::exec();
}
