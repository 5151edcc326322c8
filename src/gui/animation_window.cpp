#include "gui/animation_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "gui/artwork.h"
#include "gui/dialog_units.h"
#include "wizard/dialog_templates.h"

namespace {
constexpr int kTickMilliseconds = 40;
constexpr double kPhasePerTick = 0.012;
// The template's size when it has none of its own.
constexpr int kWidthUnits = 186;
constexpr int kHeightUnits = 82;
}  // namespace

CTransferAnimation::CTransferAnimation(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("control556"));
  m_timer.setInterval(kTickMilliseconds);
  connect(&m_timer, &QTimer::timeout, this, &CTransferAnimation::Step);
}

void CTransferAnimation::Step() {
  m_phase += kPhasePerTick;
  if (m_phase >= 1.0) m_phase -= 1.0;
  update();
}

void CTransferAnimation::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  CArtwork::PaintTransferFrame(painter, QRectF(rect()), m_phase, palette().color(backgroundRole()));
}

void CTransferAnimation::showEvent(QShowEvent*) { m_timer.start(); }

void CTransferAnimation::hideEvent(QHideEvent*) { m_timer.stop(); }

CAnimationWindow::CAnimationWindow(int dialogId, int animationId, QWidget* owner)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_logic(dialogId, animationId),
      m_owner(owner) {
  setObjectName(QStringLiteral("dialog%1").arg(dialogId));
  setWindowTitle(QString::fromStdString(m_logic.Title()));
  const CDialogUnits units(font());
  const DialogTemplate* dialog = FindDialogTemplate(dialogId);
  setFixedSize(dialog != nullptr ? units.Size(dialog->width, dialog->height)
                                 : units.Size(kWidthUnits, kHeightUnits));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(units.X(7), units.Y(6), units.X(7), units.Y(6));
  layout->setSpacing(units.Y(3));
  m_message = new QLabel(QString::fromStdString(m_logic.Text()), this);
  m_message->setObjectName(QStringLiteral("control900"));
  m_message->setTextFormat(Qt::PlainText);
  layout->addWidget(m_message);
  m_animation = new CTransferAnimation(this);
  m_animation->setMinimumHeight(units.Y(28));
  layout->addWidget(m_animation, 1);
  m_status = new QLabel(QString::fromStdString(m_logic.InitialStatus()), this);
  m_status->setObjectName(QStringLiteral("control101"));
  m_status->setTextFormat(Qt::PlainText);
  m_status->setFixedHeight(m_status->fontMetrics().height());
  layout->addWidget(m_status);
  setCursor(m_logic.ShowsWaitCursor() ? Qt::WaitCursor : Qt::ArrowCursor);
}

void CAnimationWindow::SetStatusText(const QString& text) {
  // Callers' formats may end with a line break; the status line has one line.
  QString line = text;
  while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
  m_status->setText(line);
  m_status->repaint();
}

void CAnimationWindow::CloseWindow() {
  m_closing = true;
  close();
}

void CAnimationWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      m_logic.OnCancel();
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      m_logic.OnOK();
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CAnimationWindow::closeEvent(QCloseEvent* event) {
  if (m_closing) {
    event->accept();
  } else {
    event->ignore();
  }
}

void CAnimationWindow::Open() {
  QRect area;
  if (m_owner != nullptr && m_owner->isVisible()) {
    area = m_owner->window()->frameGeometry();
    winId();
    if (QWindow* owner = m_owner->window()->windowHandle()) windowHandle()->setTransientParent(owner);
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isValid()) move(area.center() - rect().center());
  show();
  raise();
  repaint();
}
