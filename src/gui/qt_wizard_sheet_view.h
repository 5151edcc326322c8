#pragma once
// The wizard sheet's view for the Qt window. The sheet's logic calls it on the core thread:
// drawing calls are queued to the GUI thread in calling order (RepaintPage waits until they
// are all drawn), and the person's actions, reported by the window on the GUI thread, wait in
// a queue here until the core takes them.

#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "wizard/wizard_sheet_view.h"

class CWizardWindow;

class CQtWizardSheetView : public IWizardSheetView {
 public:
  // Connects to `window`'s actions; construct and destroy on the GUI thread.
  explicit CQtWizardSheetView(CWizardWindow& window);
  ~CQtWizardSheetView() override;

  void SetCaption(const std::string& caption) override;
  void AddAboutEntry(const std::string& text) override;
  void ShowPage(int pageId) override;
  void SetWizardButtons(unsigned flags) override;
  void EnableCancel(bool enable) override;
  void CancelToClose() override;
  void ShowAboutBox() override;
  void SetControlText(int pageId, int controlId, const std::string& text) override;
  void ShowControl(int pageId, int controlId, bool show) override;
  void RepaintPage(int pageId) override;
  void AddListLine(int pageId, int controlId, const std::string& line) override;
  void SelectListLine(int pageId, int controlId, int index) override;
  void MarkListLine(int pageId, int controlId, int index, bool marked) override;
  void SetProgressRange(int pageId, int controlId, int lower, int upper) override;
  void SetProgressPos(int pageId, int controlId, int position) override;
  void StartProgressMarquee(int pageId, int controlId) override;
  void OfferLog(int pageId, const std::string& log) override;
  void ShowLog(int pageId, const std::string& log) override;
  WizardEvent WaitForAction() override;
  std::optional<WizardEvent> PollAction() override;

  // Queues an action as if the person had done it (any thread).
  void PushAction(const WizardEvent& event);

 private:
  // Runs `draw` with the window on the GUI thread, after every earlier drawing call.
  void Draw(std::function<void(CWizardWindow&)> draw);

  QPointer<CWizardWindow> m_window;
  std::mutex m_mutex;
  std::condition_variable m_actionQueued;
  std::deque<WizardEvent> m_actions;
};
