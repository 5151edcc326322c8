#pragma once
// The "Firmware Update" animation window, shown while an updater runs a long blocking
// transfer: construction returns once the window is on screen (the owner window disabled),
// destruction once it is gone (the owner enabled again). When the window cannot be shown
// there is no animation, the owner stays enabled and SetText does nothing. It reaches the
// window only through the user-interface port, so the device families can show it without
// knowing the wizard.

// The window's dialog resource and its animation clip.
constexpr int kAnimationDialogId = 30502;
constexpr int kAnimationClipId = 30500;

class CAnimWait {
 public:
  explicit CAnimWait(int dialogId = kAnimationDialogId, int animationId = kAnimationClipId);
  ~CAnimWait();
  CAnimWait(const CAnimWait&) = delete;
  CAnimWait& operator=(const CAnimWait&) = delete;

  // The status line (control 101), formatted printf-style.
  void SetText(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The status line from a resource string; an id without a string gives an empty line.
  void SetText(int stringId);

  bool IsRunning() const { return m_running; }

 private:
  bool m_running = false;
};
