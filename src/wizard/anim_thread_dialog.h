#pragma once
// The behaviour of the "Firmware Update" window (dialog 30502): Enter and Escape leave it open;
// a Cancel button, where a template has one, only sets the cancel flag and disables itself.
// Front ends draw it (the animation clip, the status line 101) and forward key presses here.

#include <string>

class CAnimThreadDialog {
 public:
  static constexpr int kStatusLine = 101;
  static constexpr int kTextLabel = 900;
  static constexpr int kCancelButton = 2;
  static constexpr int kProgressBar = 551;
  static constexpr int kAnimation = 556;

  CAnimThreadDialog(int dialogId, int animationId);

  int DialogId() const { return m_dialogId; }
  int AnimationId() const { return m_animationId; }
  // The caption; a template without one takes the application's name.
  std::string Title() const;
  // The fixed text ("Updating Firmware.\nPlease wait...").
  std::string Text() const;
  // The status line before anyone set it (".").
  std::string InitialStatus() const;
  bool HasCancelButton() const;
  // Without an animation clip the template's progress bar runs a marquee (25 ms steps).
  bool UsesMarquee() const { return m_animationId == 0; }
  static constexpr int kMarqueeIntervalMs = 25;
  // The arrow when the window has a Cancel button, else the wait cursor.
  bool ShowsWaitCursor() const { return !HasCancelButton(); }

  // Enter: nothing happens.
  void OnOK() {}
  // Escape or Cancel: the cancel flag is set and Cancel disabled; the window stays open.
  void OnCancel();
  // Whether the window may close on this key: never (it closes when the animation stops).
  static bool ClosesOnKey() { return false; }

  bool IsCancelled() const { return m_cancelled; }
  bool IsCancelEnabled() const { return !m_cancelled; }

 private:
  int m_dialogId;
  int m_animationId;
  bool m_cancelled = false;
};
