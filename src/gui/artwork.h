#pragma once
// The program's own artwork, painted at run time so that it is sharp at every size and scale:
// the start page's side picture (bitmap 102), the flash page's warning icon (icon 100), the
// window icon, the banner of the "Interface" dialog (bitmap 20000) and the frames of the
// transfer animation of the "Firmware Update" window.

#include <QIcon>
#include <QPixmap>
#include <QSize>

class QPainter;
class QRectF;

class CArtwork {
 public:
  // A tall picture for the side of the welcome page: circuit traces on a night-blue ground and
  // a chip receiving an update.
  static QPixmap StartPicture(QSize size, qreal devicePixelRatio = 1.0);
  // A warning triangle with an exclamation mark.
  static QPixmap WarningIcon(int size, qreal devicePixelRatio = 1.0);
  // The application's icon in the usual sizes.
  static QIcon ApplicationIcon();
  // The application's icon on a square of `size` pixels: what ApplicationIcon holds at that
  // size, and what the desktop's icon files are made from.
  static void PaintApplicationIcon(QPainter& painter, double size);
  // A wide banner: a computer, a cable with a gap, and a device that does not answer.
  static QPixmap InterfaceBanner(QSize size, qreal devicePixelRatio = 1.0);
  // One frame of the transfer animation: data blocks travelling from a computer into a chip.
  // `phase` runs from 0 to 1 and repeats.
  static void PaintTransferFrame(QPainter& painter, const QRectF& area, double phase,
                                 const QColor& background);

 private:
  static void PaintChip(QPainter& painter, const QRectF& body, const QColor& fill,
                        const QColor& pins);
  static void PaintComputer(QPainter& painter, const QRectF& area, const QColor& frame,
                            const QColor& screen);
};
