#include "wizard/flash_page.h"

#include "wizard/dialog_templates.h"
#include "wizard/page_sequences.h"
#include "wizard/wizard_sheet.h"

CFlashPage::CFlashPage() : CWizardPage(kFlashPageId) {}

int CFlashPage::OnWizardNext() {
  Sheet()->SetPageSequence(kFullSequence, false);
  Sheet()->MarkNoReturn();
  return CWizardPage::OnWizardNext();
}
