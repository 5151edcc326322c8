#pragma once
// The progress page: runs the update once, right after it is shown, and reports the updater's
// progress (a bar hidden until SetRange, a status line and a detail line) and, for an
// application download, the project it sends (hidden until the updater names one).

#include <string>

#include "updater/flash_progress.h"
#include "wizard/wizard_page.h"

class CStreamException;

class CProgressPage : public CWizardPage, public IFlashProgress {
 public:
  static constexpr int kStatusLine = 102;
  static constexpr int kDetailLine = 103;
  static constexpr int kProjectLabel = 104;
  static constexpr int kProjectFolder = 105;
  static constexpr int kProjectSummary = 106;
  static constexpr int kProgressBar = 551;
  static constexpr int kAnimation = 556;

  CProgressPage();

  bool OnInitDialog() override;
  bool OnSetActive() override;
  // Programs when the stored device versions are older than the catalog's; 38 on failure,
  // after the device link's message when a link failure ended the update.
  int OnAutoRun() override;

  // IFlashProgress
  void SetRange(std::uint16_t lower, std::uint16_t upper) override;
  bool SetPos(int position) override;
  void SetMarquee() override;
  void SetDetailText(const std::string& text) override;
  bool PumpMessages() override;
  // Shows the label "Project folder:" with the folder beside it and the summary below; they
  // stay for the rest of the update, while the status and detail lines change.
  void ShowProject(const std::string& folder, const std::string& summary) override;

  bool IsProgressBarVisible() const { return m_barVisible; }
  const std::string& StatusText() const { return m_status; }
  const std::string& DetailText() const { return m_detail; }

 protected:
  void ShowStatusText(const std::string& text) override;

 private:
  static void ReportFailureCause(const CStreamException& error);

  bool m_barVisible = false;
  std::string m_status;
  std::string m_detail;
};
