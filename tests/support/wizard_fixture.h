#pragma once
// The wizard started as the program starts it: a catalog beside a program in a folder of the
// test's own, the settings in that folder too, a scripted person and a test updater.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scripted_sheet_view.h"
#include "support/scripted_user_interface.h"
#include "support/temp_folder.h"
#include "support/test_updater.h"

class WizardFixture : public ::testing::Test {
 protected:
  WizardFixture();
  ~WizardFixture() override;

  // The catalog file beside the program.
  void WriteCatalog(const std::string& xml);
  std::string CatalogPath() const { return m_folder / "tavrix-update.config"; }
  std::string SettingsDirectory() const { return m_folder / "config"; }
  // Stores a value in the settings before the program starts.
  void StoreInt(const std::string& key, int value);
  void StoreString(const std::string& key, const std::string& value);
  // Reads a value the program stored; `fallback` when there is none.
  int StoredInt(const std::string& key, int fallback) const;
  // Runs CTheApp::InitInstance with these arguments.
  bool Run(const std::vector<std::string>& args = {});

  CTempFolder m_folder;
  CScriptedUserInterface m_ui;
  CScriptedSheetView m_view;
  CTestUpdaterRegistration m_updater;
};
