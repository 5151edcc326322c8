#include "transport/usb_init_failed_dlg.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/string_table.h"
#include "support/scripted_user_interface.h"

namespace {

constexpr int kEscape = CScriptedUserInterface::kEscape;

TEST(InterfaceDialog, ButtonsFollowWhatTheDialogAllows) {
  struct Case {
    bool allowSimulation;
    bool allowExit;
    int pressed;  // a control id, or kEscape
    std::optional<int> result;
  };
  const Case cases[] = {
      {false, true, 4, 4},   {false, true, 6, std::nullopt}, {false, true, 2, 2},
      {false, true, kEscape, 2},
      {true, true, 6, 6},    {true, false, 6, 6},           {true, false, 4, 4},
      {true, false, 2, std::nullopt},                        {true, false, kEscape, std::nullopt},
      {false, false, 6, std::nullopt},                       {false, false, kEscape, std::nullopt},
      {true, true, 101, std::nullopt},
  };
  for (const auto& c : cases) {
    CUsbInitFailedDlg dialog(c.allowSimulation, c.allowExit, "Tavrix Quadrel Interface");
    auto result = c.pressed == kEscape ? dialog.Cancel() : dialog.PressButton(c.pressed);
    EXPECT_EQ(result, c.result) << "simulation " << c.allowSimulation << " exit " << c.allowExit
                                << " pressed " << c.pressed;
    EXPECT_EQ(dialog.TemplateId(), c.allowExit ? 20002 : 20003);
    EXPECT_EQ(dialog.HasExitButton(), c.allowExit);
    EXPECT_EQ(dialog.IsSimulationEnabled(), c.allowSimulation);
  }
}

TEST(InterfaceDialog, NamesTheProductInTheCurrentLanguage) {
  SetUiLanguage(LANG_ENGLISH);
  CUsbInitFailedDlg dialog(false, true, "Tavrix Kinetra");
  EXPECT_EQ(dialog.Title(), "Interface");
  EXPECT_EQ(dialog.Text(), "No interface \"Tavrix Kinetra\" can be found on the selected communication "
                           "line.\n\nCheck the device and its connection.");
  EXPECT_EQ(dialog.ButtonText(4), "&Repeat Initialising");
  SetUiLanguage(LANG_GERMAN);
  EXPECT_NE(dialog.Text().find("\"Tavrix Kinetra\""), std::string::npos);
  EXPECT_EQ(dialog.ButtonText(2), "Programm &beenden");
  SetUiLanguage(LANG_ENGLISH);
}

TEST(InterfaceDialog, RunsThroughTheUserInterfaceAndMapsNotShownToExit) {
  CScriptedUserInterface ui;
  CUsbInitFailedDlg withoutExit(false, false, "Tavrix MOTREVO");
  // Escape, Exit and the disabled simulation button are ignored; only "Repeat" ends it.
  ui.QueueInterfaceAnswer(kEscape);
  ui.QueueInterfaceAnswer(2);
  ui.QueueInterfaceAnswer(6);
  ui.QueueInterfaceAnswer(4);
  EXPECT_EQ(withoutExit.DoModal(), 4);

  CUsbInitFailedDlg withExit(true, true, "Tavrix MOTREVO");
  ui.QueueInterfaceAnswer(CScriptedUserInterface::kNotShown);
  EXPECT_EQ(withExit.DoModal(), 2);
  EXPECT_EQ(withExit.DoModal(), 2) << "nothing queued: the dialog is cancelled";
}

}  // namespace
