#include "gui/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace {

const QColor kNightTop(0x13, 0x40, 0x66);
const QColor kNightMiddle(0x0B, 0x26, 0x42);
const QColor kNightBottom(0x06, 0x13, 0x20);
const QColor kTeal(0x2B, 0xC4, 0xB4);
const QColor kTealLight(0x9F, 0xF2, 0xE6);
const QColor kAmber(0xFF, 0xC2, 0x3D);
const QColor kAmberDeep(0xEE, 0x93, 0x00);
const QColor kSilver(0xDD, 0xE6, 0xEE);

QPixmap NewPixmap(QSize size, qreal devicePixelRatio) {
  QPixmap pixmap(size * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

QColor WithAlpha(QColor color, double alpha) {
  color.setAlphaF(static_cast<float>(alpha));
  return color;
}

// An arrow pointing up, centred in `box`.
QPainterPath UpArrow(const QRectF& box) {
  const double w = box.width();
  const double h = box.height();
  const double x = box.left();
  const double y = box.top();
  QPainterPath path;
  path.moveTo(x + w * 0.5, y);
  path.lineTo(x + w, y + h * 0.5);
  path.lineTo(x + w * 0.68, y + h * 0.5);
  path.lineTo(x + w * 0.68, y + h);
  path.lineTo(x + w * 0.32, y + h);
  path.lineTo(x + w * 0.32, y + h * 0.5);
  path.lineTo(x, y + h * 0.5);
  path.closeSubpath();
  return path;
}

// A circuit trace along `points`, ending in a round pad.
void PaintTrace(QPainter& painter, const QPolygonF& points, double width) {
  QPen pen(WithAlpha(kTeal, 0.55), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawPolyline(points);
  painter.setPen(QPen(WithAlpha(kTeal, 0.8), width));
  painter.setBrush(kNightMiddle);
  painter.drawEllipse(points.back(), width * 2.2, width * 2.2);
}

}  // namespace

void CArtwork::PaintChip(QPainter& painter, const QRectF& body, const QColor& fill,
                         const QColor& pins) {
  const int pinCount = 5;
  const double pitch = body.width() / (pinCount + 1);
  const double pinLength = body.width() * 0.13;
  const double pinWidth = body.width() * 0.075;
  painter.setPen(Qt::NoPen);
  painter.setBrush(pins);
  for (int i = 1; i <= pinCount; ++i) {
    const double offset = i * pitch - pinWidth / 2;
    painter.drawRect(QRectF(body.left() + offset, body.top() - pinLength, pinWidth, pinLength));
    painter.drawRect(QRectF(body.left() + offset, body.bottom(), pinWidth, pinLength));
    painter.drawRect(QRectF(body.left() - pinLength, body.top() + offset, pinLength, pinWidth));
    painter.drawRect(QRectF(body.right(), body.top() + offset, pinLength, pinWidth));
  }
  const double radius = body.width() * 0.09;
  QLinearGradient shade(body.topLeft(), body.bottomRight());
  shade.setColorAt(0, fill.lighter(135));
  shade.setColorAt(1, fill);
  painter.setBrush(shade);
  painter.setPen(QPen(fill.darker(150), std::max(1.0, body.width() * 0.02)));
  painter.drawRoundedRect(body, radius, radius);
  const QRectF die = body.adjusted(body.width() * 0.14, body.height() * 0.14,
                                   -body.width() * 0.14, -body.height() * 0.14);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(WithAlpha(pins, 0.45), std::max(1.0, body.width() * 0.015)));
  painter.drawRoundedRect(die, radius * 0.6, radius * 0.6);
}

void CArtwork::PaintComputer(QPainter& painter, const QRectF& area, const QColor& frame,
                             const QColor& screen) {
  const double w = area.width();
  const double h = area.height();
  const QRectF monitor(area.left(), area.top(), w, h * 0.74);
  const double radius = w * 0.07;
  painter.setPen(Qt::NoPen);
  painter.setBrush(frame);
  painter.drawRoundedRect(monitor, radius, radius);
  painter.setBrush(screen);
  painter.drawRoundedRect(monitor.adjusted(w * 0.07, w * 0.07, -w * 0.07, -w * 0.07), radius * 0.4,
                          radius * 0.4);
  painter.setBrush(frame);
  painter.drawRect(QRectF(area.left() + w * 0.43, monitor.bottom(), w * 0.14, h * 0.16));
  painter.drawRoundedRect(QRectF(area.left() + w * 0.22, area.top() + h * 0.9, w * 0.56, h * 0.1),
                          h * 0.04, h * 0.04);
}

QPixmap CArtwork::StartPicture(QSize size, qreal devicePixelRatio) {
  QPixmap pixmap = NewPixmap(size, devicePixelRatio);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const double w = size.width();
  const double h = size.height();

  QLinearGradient ground(0, 0, 0, h);
  ground.setColorAt(0, kNightTop);
  ground.setColorAt(0.55, kNightMiddle);
  ground.setColorAt(1, kNightBottom);
  painter.fillRect(QRectF(0, 0, w, h), ground);

  // A fine grid of dots, like a bare circuit board.
  const double grid = std::max(8.0, w / 14);
  painter.setPen(Qt::NoPen);
  painter.setBrush(WithAlpha(kSilver, 0.07));
  for (double y = grid / 2; y < h; y += grid) {
    for (double x = grid / 2; x < w; x += grid) painter.drawEllipse(QPointF(x, y), 1.1, 1.1);
  }

  const double chipSize = w * 0.36;
  const QPointF centre(w * 0.5, h * 0.47);
  QRadialGradient glow(centre, w * 0.85);
  glow.setColorAt(0, WithAlpha(kTeal, 0.38));
  glow.setColorAt(0.45, WithAlpha(kTeal, 0.1));
  glow.setColorAt(1, WithAlpha(kTeal, 0));
  painter.fillRect(QRectF(0, 0, w, h), glow);

  // Traces leave the chip's pins, bend once and end in pads towards the picture's edges.
  const QRectF chip(centre.x() - chipSize / 2, centre.y() - chipSize / 2, chipSize, chipSize);
  const double pitch = chipSize / 6;
  const double lead = chipSize * 0.13;
  const double traceWidth = std::max(1.2, w * 0.011);
  const double reach[5] = {0.55, 0.8, 1.0, 0.7, 0.45};
  for (int i = 0; i < 5; ++i) {
    const double offset = (i + 1) * pitch;
    const double bend = (i - 2) * pitch * 0.9;
    const double far = reach[i];
    // up and down
    for (int side : {-1, 1}) {
      const double y0 = side < 0 ? chip.top() - lead : chip.bottom() + lead;
      const double x0 = chip.left() + offset;
      const double run = pitch * (1.2 + (4 - i) * 0.35);
      const double yEdge = side < 0 ? h * (0.47 - 0.4 * far) : h * (0.47 + 0.42 * far);
      PaintTrace(painter,
                 QPolygonF({QPointF(x0, y0), QPointF(x0, y0 + side * run),
                            QPointF(x0 + bend, y0 + side * (run + std::abs(bend))),
                            QPointF(x0 + bend, yEdge)}),
                 traceWidth);
    }
    // left and right
    for (int side : {-1, 1}) {
      const double x0 = side < 0 ? chip.left() - lead : chip.right() + lead;
      const double y0 = chip.top() + offset;
      const double run = pitch * (0.6 + i * 0.25);
      const double xEdge = side < 0 ? w * (0.5 - 0.46 * far) : w * (0.5 + 0.46 * far);
      PaintTrace(painter,
                 QPolygonF({QPointF(x0, y0), QPointF(x0 + side * run, y0),
                            QPointF(x0 + side * (run + std::abs(bend) * 0.6), y0 + bend * 0.6),
                            QPointF(xEdge, y0 + bend * 0.6)}),
                 traceWidth);
    }
  }

  PaintChip(painter, chip, QColor(0x1C, 0x2F, 0x45), kSilver);

  // The update: an arrow rising out of the chip, with a soft halo.
  const QRectF arrowBox(centre.x() - chipSize * 0.24, centre.y() - chipSize * 0.27, chipSize * 0.48,
                        chipSize * 0.54);
  QRadialGradient halo(centre, chipSize * 0.45);
  halo.setColorAt(0, WithAlpha(kTealLight, 0.55));
  halo.setColorAt(1, WithAlpha(kTealLight, 0));
  painter.setPen(Qt::NoPen);
  painter.setBrush(halo);
  painter.drawEllipse(centre, chipSize * 0.45, chipSize * 0.45);
  QLinearGradient arrowFill(arrowBox.topLeft(), arrowBox.bottomLeft());
  arrowFill.setColorAt(0, Qt::white);
  arrowFill.setColorAt(1, kTeal);
  painter.setBrush(arrowFill);
  painter.drawPath(UpArrow(arrowBox));

  // The maker's word mark at the foot of the picture.
  QFont mark = painter.font();
  mark.setPixelSize(std::max(9, static_cast<int>(w * 0.105)));
  mark.setWeight(QFont::DemiBold);
  mark.setLetterSpacing(QFont::PercentageSpacing, 135);
  painter.setFont(mark);
  painter.setPen(WithAlpha(kSilver, 0.9));
  const QRectF markBox(0, h * 0.86, w, h * 0.08);
  painter.drawText(markBox, Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("TAVRIX"));
  painter.setPen(QPen(WithAlpha(kTeal, 0.9), std::max(1.0, h * 0.004)));
  painter.drawLine(QPointF(w * 0.36, h * 0.945), QPointF(w * 0.64, h * 0.945));
  return pixmap;
}

QPixmap CArtwork::WarningIcon(int size, qreal devicePixelRatio) {
  QPixmap pixmap = NewPixmap(QSize(size, size), devicePixelRatio);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  const double corner = s * 0.1;
  QPolygonF triangle({QPointF(s * 0.5, s * 0.08), QPointF(s * 0.94, s * 0.88),
                      QPointF(s * 0.06, s * 0.88)});
  // A soft shadow below, then the triangle with rounded corners (a wide round-joined outline).
  painter.setPen(QPen(QColor(0, 0, 0, 45), corner * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(QColor(0, 0, 0, 45));
  painter.drawPolygon(triangle.translated(0, s * 0.03));
  QLinearGradient fill(0, s * 0.08, 0, s * 0.88);
  fill.setColorAt(0, kAmber.lighter(115));
  fill.setColorAt(1, kAmberDeep);
  painter.setPen(QPen(QBrush(fill), corner * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(fill);
  painter.drawPolygon(triangle);
  painter.setPen(QPen(QColor(0xB8, 0x6A, 0x00), std::max(1.0, s * 0.025), Qt::SolidLine,
                      Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  QPainterPathStroker stroker;
  stroker.setWidth(corner * 2);
  stroker.setJoinStyle(Qt::RoundJoin);
  QPainterPath outline;
  outline.addPolygon(triangle);
  outline.closeSubpath();
  painter.drawPath(stroker.createStroke(outline).united(outline).simplified());
  // The exclamation mark.
  const QColor ink(0x3B, 0x28, 0x00);
  painter.setPen(Qt::NoPen);
  painter.setBrush(ink);
  const double barWidth = s * 0.11;
  painter.drawRoundedRect(QRectF(s * 0.5 - barWidth / 2, s * 0.3, barWidth, s * 0.34), barWidth / 2,
                          barWidth / 2);
  painter.drawEllipse(QPointF(s * 0.5, s * 0.76), barWidth * 0.62, barWidth * 0.62);
  return pixmap;
}

void CArtwork::PaintApplicationIcon(QPainter& painter, double size) {
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  const QRectF tile(s * 0.04, s * 0.04, s * 0.92, s * 0.92);
  QLinearGradient ground(tile.topLeft(), tile.bottomRight());
  ground.setColorAt(0, kNightTop.lighter(120));
  ground.setColorAt(1, kNightBottom);
  painter.setPen(Qt::NoPen);
  painter.setBrush(ground);
  painter.drawRoundedRect(tile, s * 0.2, s * 0.2);
  // Below 32 pixels the chip's pins would blur into the ground; the arrow alone, larger, reads.
  if (size >= 32) {
    PaintChip(painter, QRectF(s * 0.25, s * 0.25, s * 0.5, s * 0.5), QColor(0x1C, 0x2F, 0x45),
              kSilver);
  }
  const double arrow = size >= 32 ? 0.3 : 0.56;
  QLinearGradient arrowFill(0, s * (0.5 - arrow / 2), 0, s * (0.5 + arrow / 2));
  arrowFill.setColorAt(0, Qt::white);
  arrowFill.setColorAt(1, kTeal);
  painter.setBrush(arrowFill);
  painter.drawPath(
      UpArrow(QRectF(s * (0.5 - arrow * 0.45), s * (0.5 - arrow / 2), s * arrow * 0.9, s * arrow)));
}

QIcon CArtwork::ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap = NewPixmap(QSize(size, size), 1.0);
    QPainter painter(&pixmap);
    PaintApplicationIcon(painter, size);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QPixmap CArtwork::InterfaceBanner(QSize size, qreal devicePixelRatio) {
  QPixmap pixmap = NewPixmap(size, devicePixelRatio);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const double w = size.width();
  const double h = size.height();
  QLinearGradient ground(0, 0, w, h);
  ground.setColorAt(0, kNightTop);
  ground.setColorAt(1, kNightBottom);
  painter.fillRect(QRectF(0, 0, w, h), ground);
  painter.setPen(Qt::NoPen);
  painter.setBrush(WithAlpha(kSilver, 0.06));
  const double grid = std::max(8.0, h / 5);
  for (double y = grid / 2; y < h; y += grid) {
    for (double x = grid / 2; x < w; x += grid) painter.drawEllipse(QPointF(x, y), 1.0, 1.0);
  }

  const double unit = h * 0.6;
  const double midY = h * 0.5;
  // The computer on the left, the device on the right.
  const QRectF computer(w * 0.2 - unit * 0.6, midY - unit * 0.55, unit * 1.2, unit * 1.1);
  PaintComputer(painter, computer, kSilver, QColor(0x1E, 0x5A, 0x86));
  const QRectF device(w * 0.8 - unit * 0.7, midY - unit * 0.4, unit * 1.4, unit * 0.8);
  QLinearGradient deviceFill(device.topLeft(), device.bottomLeft());
  deviceFill.setColorAt(0, kSilver);
  deviceFill.setColorAt(1, QColor(0xA9, 0xB8, 0xC6));
  painter.setBrush(deviceFill);
  painter.drawRoundedRect(device, unit * 0.12, unit * 0.12);
  painter.setBrush(QColor(0x2A, 0x3B, 0x4F));
  painter.drawRoundedRect(device.adjusted(unit * 0.12, unit * 0.14, -unit * 0.6, -unit * 0.38),
                          unit * 0.04, unit * 0.04);
  const QColor leds[3] = {QColor(0x6B, 0x7C, 0x8C), QColor(0x6B, 0x7C, 0x8C), kAmberDeep};
  for (int i = 0; i < 3; ++i) {
    painter.setBrush(leds[i]);
    painter.drawEllipse(QPointF(device.right() - unit * (0.46 - i * 0.15), device.top() + unit * 0.24),
                        unit * 0.045, unit * 0.045);
  }

  // The cable, broken in the middle, and a question in the gap.
  const double cableY = midY + unit * 0.05;
  const double gapLeft = w * 0.5 - unit * 0.55;
  const double gapRight = w * 0.5 + unit * 0.55;
  QPen cable(kTeal, std::max(2.0, h * 0.04), Qt::SolidLine, Qt::RoundCap);
  painter.setPen(cable);
  painter.drawLine(QPointF(computer.right() + unit * 0.08, cableY), QPointF(gapLeft, cableY));
  painter.drawLine(QPointF(gapRight, cableY), QPointF(device.left() - unit * 0.08, cableY));
  painter.setPen(Qt::NoPen);
  painter.setBrush(kSilver);
  const double plug = unit * 0.18;
  painter.drawRoundedRect(QRectF(gapLeft - plug * 0.2, cableY - plug * 0.5, plug * 1.1, plug),
                          plug * 0.15, plug * 0.15);
  painter.drawRoundedRect(QRectF(gapRight - plug * 0.9, cableY - plug * 0.5, plug * 1.1, plug),
                          plug * 0.15, plug * 0.15);
  const QPointF mark(w * 0.5, cableY);
  const double markRadius = unit * 0.28;
  painter.setBrush(kAmber);
  painter.drawEllipse(mark, markRadius, markRadius);
  QFont font = painter.font();
  font.setPixelSize(static_cast<int>(markRadius * 1.45));
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor(0x3B, 0x28, 0x00));
  painter.drawText(QRectF(mark.x() - markRadius, mark.y() - markRadius, markRadius * 2, markRadius * 2),
                   Qt::AlignCenter, QStringLiteral("?"));
  return pixmap;
}

void CArtwork::PaintTransferFrame(QPainter& painter, const QRectF& area, double phase,
                                  const QColor& background) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const double h = area.height();
  const bool dark = background.lightnessF() < 0.5;
  const QColor frame = dark ? kSilver : QColor(0x3C, 0x4E, 0x62);
  const QRectF computer(area.left(), area.top() + h * 0.08, h * 1.0, h * 0.84);
  PaintComputer(painter, computer, frame, QColor(0x1E, 0x5A, 0x86));

  const double chipSize = h * 0.56;
  const QRectF chip(area.right() - chipSize - h * 0.14, area.center().y() - chipSize / 2, chipSize,
                    chipSize);
  const double pulse = 0.5 + 0.5 * std::sin(phase * 2 * M_PI);
  QRadialGradient glow(chip.center(), chipSize * 1.1);
  glow.setColorAt(0, WithAlpha(kTeal, 0.25 + 0.35 * pulse));
  glow.setColorAt(1, WithAlpha(kTeal, 0));
  painter.setPen(Qt::NoPen);
  painter.setBrush(glow);
  painter.drawEllipse(chip.center(), chipSize * 1.1, chipSize * 1.1);
  PaintChip(painter, chip, QColor(0x1C, 0x2F, 0x45), dark ? kSilver : QColor(0x8A, 0x99, 0xA8));

  // The track, and the blocks that travel along it, fading in and out at its ends.
  const double trackLeft = computer.right() + h * 0.2;
  const double trackRight = chip.left() - h * 0.3;
  const double trackY = area.center().y();
  painter.setPen(QPen(WithAlpha(frame, 0.25), std::max(1.0, h * 0.04), Qt::DashLine, Qt::RoundCap));
  painter.drawLine(QPointF(trackLeft, trackY), QPointF(trackRight, trackY));
  const int blocks = 5;
  const double block = h * 0.2;
  painter.setPen(Qt::NoPen);
  for (int i = 0; i < blocks; ++i) {
    const double t = std::fmod(phase + static_cast<double>(i) / blocks, 1.0);
    const double x = trackLeft + t * (trackRight - trackLeft - block);
    const double fade = std::min(1.0, std::min(t, 1.0 - t) * 6);
    painter.setBrush(WithAlpha(i % 2 == 0 ? kTeal : kAmberDeep, fade));
    painter.drawRoundedRect(QRectF(x, trackY - block / 2, block, block), block * 0.25, block * 0.25);
  }
  painter.restore();
}
