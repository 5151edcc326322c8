// tavrix_icon_export DIR: the wizard's icon files for the desktop, painted by the program's own
// artwork code, in the layout of the hicolor icon theme: DIR/scalable/apps/tavrix-update.svg
// and DIR/48x48/apps/tavrix-update.png, DIR/256x256/apps/tavrix-update.png. The build runs it;
// it is not installed.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

#include "gui/artwork.h"

namespace {

const QString kIconName = QStringLiteral("tavrix-update");
// The scalable icon is drawn at the size that shows every detail (the chip's pins).
constexpr int kScalableSize = 256;

QString AppsFolder(const QString& root, const QString& theme) {
  const QString folder = root + "/" + theme + "/apps";
  return QDir().mkpath(folder) ? folder : QString();
}

bool WritePng(const QString& root, int size) {
  const QString folder = AppsFolder(root, QStringLiteral("%1x%1").arg(size));
  if (folder.isEmpty()) return false;
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  CArtwork::PaintApplicationIcon(painter, size);
  painter.end();
  return image.save(folder + "/" + kIconName + ".png");
}

bool WriteSvg(const QString& root) {
  const QString folder = AppsFolder(root, QStringLiteral("scalable"));
  if (folder.isEmpty()) return false;
  QSvgGenerator svg;
  svg.setFileName(folder + "/" + kIconName + ".svg");
  svg.setSize(QSize(kScalableSize, kScalableSize));
  svg.setViewBox(QRect(0, 0, kScalableSize, kScalableSize));
  svg.setTitle(QStringLiteral("Tavrix Update"));
  svg.setDescription(QStringLiteral("The icon of the Tavrix Update wizard"));
  QPainter painter;
  if (!painter.begin(&svg)) return false;
  CArtwork::PaintApplicationIcon(painter, kScalableSize);
  return painter.end();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tavrix_icon_export DIR\n");
    return 2;
  }
  // Painting needs no screen; the build machine has none.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString root = QString::fromLocal8Bit(argv[1]);
  if (!WriteSvg(root) || !WritePng(root, 48) || !WritePng(root, 256)) {
    std::fprintf(stderr, "tavrix_icon_export: cannot write the icons into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
