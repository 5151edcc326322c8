#pragma once
// The page base of the wizard: buttons computed from the sheet's page sequence, Back and Next
// answered by it, and an auto-run task started once, right after the page is first shown.

#include <exception>

class CWizardSheet;
class IWizardSheetView;

class CWizardPage {
 public:
  explicit CWizardPage(int dialogId);
  virtual ~CWizardPage() = default;
  CWizardPage(const CWizardPage&) = delete;
  CWizardPage& operator=(const CWizardPage&) = delete;

  int DialogId() const { return m_dialogId; }
  // The owning sheet; none until the page is added to it.
  CWizardSheet* Sheet() const { return m_sheet; }
  void SetSheet(CWizardSheet* sheet) { m_sheet = sheet; }

  // Posts the sheet's set-wizard-buttons request (PSWIZB_* bits).
  virtual void PostWizardButtons(unsigned flags);
  // Back | Next on an empty sequence; Finish in place of Next before the terminating 0; Back
  // only when the previous entry is neither 0 nor -1 and this is not the first position.
  virtual unsigned ComputeWizardButtons();
  // The sheet's NextPageId.
  virtual int GetNextPageId();
  // The sheet's previous-page rule.
  virtual int GetPrevPageId();
  // The task run once after the page is first shown: -1 nothing more, 0 the next page of the
  // sequence (as Next would), any other value the dialog id of the page to go to.
  virtual int OnAutoRun() { return -1; }
  // An exception that escaped OnAutoRun.
  virtual void OnException(const std::exception&) {}

  // Framework handlers. Page ids follow the framework's convention: 0 the sheet's default
  // neighbour, -1 stay on this page, else the dialog id of the page to show.
  virtual bool OnInitDialog();
  virtual bool OnSetActive();
  virtual int OnWizardBack();
  virtual int OnWizardNext();
  // The person selected another line of a list box on this page.
  virtual void OnSelectionChanged(int /*controlId*/, int /*index*/) {}
  // USB devices came or went.
  virtual void OnDevicesChanged() {}

  // The auto-run message: wait cursor, pump, OnAutoRun (exceptions to OnException, result 0),
  // then stay, go on to the next page or go to the page returned.
  void OnAutoRunMessage();

 protected:
  IWizardSheetView& View() const;

 private:
  int m_dialogId;
  CWizardSheet* m_sheet = nullptr;
};
