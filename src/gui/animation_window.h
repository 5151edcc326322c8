#pragma once
// The "Firmware Update" window (dialog 30502) shown while an updater spends a long time in a
// blocking transfer: the text "Updating Firmware. Please wait...", a running animation of
// data travelling into a chip, and the status line (control 101). It has no system menu or
// close box; Enter and Escape go to the window's logic (CAnimThreadDialog), which leaves it
// open. Only CloseWindow closes it.

#include <QDialog>
#include <QTimer>

#include "wizard/anim_thread_dialog.h"

class QLabel;

// The animation control (556): paints a frame of the transfer animation on every tick.
class CTransferAnimation : public QWidget {
  Q_OBJECT

 public:
  explicit CTransferAnimation(QWidget* parent = nullptr);
  bool IsRunning() const { return m_timer.isActive(); }
  double Phase() const { return m_phase; }
  // Moves the animation on by one tick (the timer does this while it runs).
  void Step();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QTimer m_timer;
  double m_phase = 0;
};

class CAnimationWindow : public QDialog {
  Q_OBJECT

 public:
  // `owner` is only used to centre the window over it and keep it above it; the window is not
  // its child, so disabling the owner leaves it working.
  CAnimationWindow(int dialogId, int animationId, QWidget* owner = nullptr);

  const CAnimThreadDialog& Logic() const { return m_logic; }
  // Centres the window over its owner (or the screen), shows it and paints it at once.
  void Open();
  void SetStatusText(const QString& text);
  QLabel* StatusLine() const { return m_status; }
  QLabel* Message() const { return m_message; }
  CTransferAnimation* Animation() const { return m_animation; }
  // Closes the window for good.
  void CloseWindow();

  void accept() override {}
  void reject() override {}

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  CAnimThreadDialog m_logic;
  QWidget* m_owner;
  QLabel* m_message = nullptr;
  QLabel* m_status = nullptr;
  CTransferAnimation* m_animation = nullptr;
  bool m_closing = false;
};
