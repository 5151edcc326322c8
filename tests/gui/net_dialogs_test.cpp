// The "Server Login" and "Connect" dialogs as the Qt wizard draws them (offscreen): what they
// show, what the person's actions end them with, and the search off the GUI thread.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <future>

#include "gui/connect_dialog.h"
#include "gui/socket_login_dialog.h"
#include "gui_test_support.h"
#include "net/socket_login_dlg.h"
#include "net/udp_connect_dlg.h"
#include "support/scripted_user_interface.h"

namespace {

class NetDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { gui_test::Application(); }
  CScriptedUserInterface m_ui;
};

TEST_F(NetDialogsTest, ServerLoginShowsTheServerAndEndsWithTheEditedValues) {
  CSocketLoginDlg logic(false, true);
  logic.host = "192.168.0.20";
  logic.port = 8080;
  CSocketLoginDialog dialog(logic);
  QSignalSpy finished(&dialog, &QDialog::finished);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Server Login"));
  EXPECT_EQ(dialog.AddressEdit()->text(), QStringLiteral("192.168.0.20"));
  EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("8080"));
  EXPECT_TRUE(dialog.Button(CSocketLoginDlg::kRepeatButton)->isDefault());
  EXPECT_FALSE(dialog.Button(CSocketLoginDlg::kSimulationButton)->isEnabled());
  EXPECT_TRUE(dialog.Button(CSocketLoginDlg::kExitButton)->isEnabled());
  gui_test::SaveScreenshot(dialog, QStringLiteral("server_login_en"));

  dialog.PortEdit()->clear();
  QTest::keyClicks(dialog.PortEdit(), QStringLiteral("7x0000"));
  EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("70000")) << "the field takes digits only";
  dialog.AddressEdit()->clear();
  QTest::mouseClick(dialog.Button(CSocketLoginDlg::kRepeatButton), Qt::LeftButton);
  EXPECT_EQ(finished.count(), 0);
  EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{"Please enter the server address (Name or IP)!"});

  QTest::keyClicks(dialog.AddressEdit(), QStringLiteral("server"));
  QTest::mouseClick(dialog.Button(CSocketLoginDlg::kRepeatButton), Qt::LeftButton);
  ASSERT_EQ(finished.count(), 1);
  EXPECT_EQ(finished.at(0).at(0).toInt(), CSocketLoginDlg::kRepeatButton);
  EXPECT_EQ(logic.host, "server");
  EXPECT_EQ(logic.port, 4464);
}

TEST_F(NetDialogsTest, ServerLoginWithoutExitIgnoresEscape) {
  CSocketLoginDlg logic(true, false);
  CSocketLoginDialog dialog(logic);
  QSignalSpy finished(&dialog, &QDialog::finished);
  dialog.show();
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_EQ(finished.count(), 0);
  QTest::mouseClick(dialog.Button(CSocketLoginDlg::kSimulationButton), Qt::LeftButton);
  ASSERT_EQ(finished.count(), 1);
  EXPECT_EQ(finished.at(0).at(0).toInt(), CSocketLoginDlg::kSimulationButton);
}

TEST_F(NetDialogsTest, ConnectSearchesOffTheGuiThreadAndConfirmsATypedAddress) {
  CUdpConnectDlg logic(7720, 7719);
  logic.address = "0.0.0.0";
  logic.configurationAllowed = false;
  // The search waits until the test lets it go, and then finds no interface: nothing is sent.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  logic.Discovery().SetInterfaceSource([released] {
    released.wait();
    return std::vector<CLocalInterface>{};
  });
  CConnectDialog dialog(logic);
  QSignalSpy finished(&dialog, &QDialog::finished);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Connect"));
  EXPECT_FALSE(dialog.Button(CUdpConnectDlg::kConfigurationButton)->isVisible());
  EXPECT_FALSE(dialog.Button(CUdpConnectDlg::kIdentifyButton)->isEnabled());
  EXPECT_EQ(dialog.AddressEdit()->text(), QStringLiteral("0.0.0.0"));
  gui_test::SaveScreenshot(dialog, QStringLiteral("connect_en"));

  QTest::mouseClick(dialog.Button(CUdpConnectDlg::kFindButton), Qt::LeftButton);
  EXPECT_TRUE(dialog.IsSearching());
  QApplication::processEvents();  // the GUI thread goes on while the search waits
  EXPECT_FALSE(dialog.Button(CUdpConnectDlg::kFindButton)->isEnabled());
  release.set_value();
  for (int i = 0; i < 500 && dialog.IsSearching(); ++i) QTest::qWait(10);
  EXPECT_FALSE(dialog.IsSearching());
  EXPECT_EQ(dialog.DeviceList()->count(), 0);
  EXPECT_TRUE(dialog.Button(CUdpConnectDlg::kFindButton)->isEnabled());

  dialog.AddressEdit()->clear();
  QTest::mouseClick(dialog.Button(CUdpConnectDlg::kOkButton), Qt::LeftButton);
  EXPECT_EQ(finished.count(), 0);
  QTest::keyClicks(dialog.AddressEdit(), QStringLiteral("127.0.0.1"));
  QTest::mouseClick(dialog.Button(CUdpConnectDlg::kOkButton), Qt::LeftButton);
  ASSERT_EQ(finished.count(), 1);
  EXPECT_EQ(finished.at(0).at(0).toInt(), IDOK);
  EXPECT_EQ(logic.address, "127.0.0.1");
}

}  // namespace
