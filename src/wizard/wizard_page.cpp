#include "wizard/wizard_page.h"

#include "wizard/message_pump.h"
#include "platform/wait_cursor.h"
#include "wizard/wizard_sheet.h"

CWizardPage::CWizardPage(int dialogId) : m_dialogId(dialogId) {}

IWizardSheetView& CWizardPage::View() const { return m_sheet->View(); }

void CWizardPage::PostWizardButtons(unsigned flags) { m_sheet->PostWizardButtons(flags); }

unsigned CWizardPage::ComputeWizardButtons() { return m_sheet->ComputeWizardButtons(); }

int CWizardPage::GetNextPageId() { return m_sheet->NextPageId(); }

int CWizardPage::GetPrevPageId() { return m_sheet->PrevPageId(); }

bool CWizardPage::OnInitDialog() {
  m_sheet->ShowPageWindow(m_dialogId);
  m_sheet->PostAutoRun(this);
  return true;
}

bool CWizardPage::OnSetActive() {
  PostWizardButtons(ComputeWizardButtons());
  return true;
}

int CWizardPage::OnWizardBack() { return GetPrevPageId(); }

int CWizardPage::OnWizardNext() { return GetNextPageId(); }

void CWizardPage::OnAutoRunMessage() {
  int result = -1;
  {
    CWaitCursor wait;
    // Let the page be drawn completely before the task blocks.
    PumpPendingMessages();
    try {
      result = OnAutoRun();
    } catch (const std::exception& exception) {
      OnException(exception);
      result = 0;
    }
  }
  if (result == -1) return;
  if (result == 0) {
    m_sheet->PressButton(PSWIZB_NEXT);
  } else {
    m_sheet->GoToPage(result);
  }
}
