#pragma once
// The flash page: names the device found with both versions, warns what not to do while
// programming and asks to go on.

#include <string>

#include "wizard/wizard_page.h"

class CFlashPage : public CWizardPage {
 public:
  // The line that names the device found: "QI-2A1: firmware 3.07 on the device, 3.12 in the
  // catalog".
  static constexpr int kFoundDevice = 102;

  CFlashPage();
  // The found-device line is in place before the page is first shown, and again whenever the
  // page becomes active.
  bool OnInitDialog() override;
  bool OnSetActive() override;
  // Restores the full sequence (undoing the start page's mark), marks this page no-return.
  int OnWizardNext() override;

  // The found-device line for the current wizard state: the catalog Id, the device's firmware
  // version and the catalog's, so that the person sees what is about to change before
  // confirming. The terminal front end prints the same line.
  static std::string FoundDeviceText();
  // When several devices of the selected type are attached: how many, and which one the
  // update took; empty otherwise.
  static std::string SeveralAttachedText();

 private:
  void ShowFoundDevice();
};
