#pragma once
// The flash page: warns what not to do while programming and asks to go on.

#include "wizard/wizard_page.h"

class CFlashPage : public CWizardPage {
 public:
  CFlashPage();
  // Restores the full sequence (undoing the start page's mark), marks this page no-return.
  int OnWizardNext() override;
};
