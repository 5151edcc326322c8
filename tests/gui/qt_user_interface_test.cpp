// The Qt user interface port called from a worker thread, as the core calls it: every question
// blocks the worker until the person answers on the GUI thread, which keeps running.

#include "gui/qt_user_interface.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <thread>

#include "gui/animation_window.h"
#include "gui/interface_dialog.h"
#include "gui_test_support.h"
#include "transport/usb_init_failed_dlg.h"
#include "platform/anim_wait.h"

namespace {

using gui_test::WaitUntil;

// Runs `call` on a worker thread and keeps its result.
class CWorker {
 public:
  explicit CWorker(std::function<int()> call)
      : m_thread([this, call = std::move(call)] {
          m_result = call();
          m_done = true;
          CGuiThread::Post([] {});
        }) {}
  ~CWorker() { m_thread.join(); }
  bool Done() const { return m_done; }
  int Result() const { return m_result; }

 private:
  std::atomic<bool> m_done{false};
  std::atomic<int> m_result{-1};
  std::thread m_thread;
};

QMessageBox* OpenMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) return box;
  }
  return nullptr;
}

class QtUserInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gui_test::Application();
    SetUserInterface(&m_ui);
  }
  void TearDown() override { SetUserInterface(nullptr); }
  CQtUserInterface m_ui;
};

struct MessageBoxCase {
  const char* name;
  unsigned style;
  std::vector<int> buttonTexts;  // string ids, in order
  QMessageBox::Icon icon;
  Qt::Key key;       // what the person presses first
  bool keyAnswers;   // whether that key ends the box
  int result;        // the answer (after the key, or after clicking the last button)
};

class MessageBoxTest : public QtUserInterfaceTest, public ::testing::WithParamInterface<MessageBoxCase> {};

TEST_P(MessageBoxTest, BlocksTheWorkerUntilAnswered) {
  const MessageBoxCase& c = GetParam();
  CWorker worker([&] { return m_ui.MessageBox("Line one\nLine two", c.style); });
  ASSERT_TRUE(WaitUntil([] { return OpenMessageBox() != nullptr; }));
  QMessageBox* box = OpenMessageBox();
  EXPECT_EQ(box->windowTitle().toStdString(), ApplicationName());
  EXPECT_EQ(box->text().toStdString(), "Line one\nLine two");
  EXPECT_EQ(box->icon(), c.icon);
  ASSERT_EQ(box->buttons().size(), c.buttonTexts.size());
  for (std::size_t i = 0; i < c.buttonTexts.size(); ++i) {
    EXPECT_EQ(box->buttons()[static_cast<qsizetype>(i)]->text().toStdString(), LoadResString(c.buttonTexts[i]));
  }
  QApplication::processEvents();
  EXPECT_FALSE(worker.Done());

  QTest::keyClick(box, c.key);
  if (!c.keyAnswers) {
    QApplication::processEvents();
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(worker.Done());
    QTest::mouseClick(box->buttons().back(), Qt::LeftButton);
  }
  ASSERT_TRUE(WaitUntil([&] { return worker.Done(); }));
  EXPECT_EQ(worker.Result(), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxTest,
    ::testing::Values(
        MessageBoxCase{"OkEnter", MB_OK, {41001}, QMessageBox::NoIcon, Qt::Key_Return, true, IDOK},
        MessageBoxCase{"OkEscape", MB_OK | MB_ICONERROR, {41001}, QMessageBox::Critical, Qt::Key_Escape, true, IDOK},
        MessageBoxCase{"OkCancelEnter", MB_OKCANCEL | MB_ICONWARNING, {41001, 41002}, QMessageBox::Warning,
                       Qt::Key_Return, true, IDOK},
        MessageBoxCase{"OkCancelEscape", MB_OKCANCEL | MB_ICONINFORMATION, {41001, 41002},
                       QMessageBox::Information, Qt::Key_Escape, true, IDCANCEL},
        MessageBoxCase{"YesNoEnter", MB_YESNO | MB_ICONQUESTION, {41003, 41004}, QMessageBox::Question,
                       Qt::Key_Return, true, IDYES},
        // A Yes/No box has no cancelling answer: Escape does nothing, the person must choose.
        MessageBoxCase{"YesNoEscapeThenNo", MB_YESNO | MB_ICONQUESTION, {41003, 41004}, QMessageBox::Question,
                       Qt::Key_Escape, false, IDNO}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The transport's "Interface" dialog through the port: the worker gets the button pressed.
TEST_F(QtUserInterfaceTest, InterfaceDialogAnswersTheTransport) {
  CUsbInitFailedDlg logic(false, true, "USB 1Z");
  CWorker worker([&] { return logic.DoModal(); });
  CInterfaceDialog* dialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      dialog = qobject_cast<CInterfaceDialog*>(widget);
      if (dialog != nullptr && dialog->isVisible()) return true;
    }
    return false;
  }));
  QTest::mouseClick(dialog->Button(CUsbInitFailedDlg::kSimulationButton), Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_FALSE(worker.Done());
  QTest::mouseClick(dialog->Button(CUsbInitFailedDlg::kRepeatButton), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return worker.Done(); }));
  EXPECT_EQ(worker.Result(), CUsbInitFailedDlg::kRepeatButton);
}

// CAnimWait on a worker: the window exists when construction returns, the owner is disabled
// while it is up and enabled once it is gone; a string id without a string gives an empty line.
TEST_F(QtUserInterfaceTest, AnimationKeepsItsStartAndStopGuarantees) {
  QWidget owner;
  owner.show();
  m_ui.SetMainWindow(&owner);
  gui_test::CCheckpoints checkpoints;
  std::atomic<bool> shownAtStart{false};
  CWorker worker([&] {
    {
      CAnimWait animation;
      shownAtStart = animation.IsRunning();
      checkpoints.Reach(1);
      animation.SetText(999999);
      checkpoints.Reach(2);
    }
    checkpoints.Reach(3);
    return 0;
  });
  ASSERT_TRUE(WaitUntil([&] { return checkpoints.Reached(1); }));
  EXPECT_TRUE(shownAtStart);
  ASSERT_NE(m_ui.AnimationWindow(), nullptr);
  EXPECT_TRUE(m_ui.AnimationWindow()->isVisible());
  EXPECT_TRUE(m_ui.AnimationWindow()->Animation()->IsRunning());
  EXPECT_EQ(m_ui.AnimationWindow()->StatusLine()->text().toStdString(), ".");
  EXPECT_FALSE(owner.isEnabled());
  checkpoints.Open(1);
  ASSERT_TRUE(WaitUntil([&] { return checkpoints.Reached(2); }));
  QApplication::processEvents();
  EXPECT_EQ(m_ui.AnimationWindow()->StatusLine()->text().toStdString(), "");
  checkpoints.Open(2);
  ASSERT_TRUE(WaitUntil([&] { return checkpoints.Reached(3); }));
  EXPECT_EQ(m_ui.AnimationWindow(), nullptr);
  EXPECT_TRUE(owner.isEnabled());
  checkpoints.Open(3);
  ASSERT_TRUE(WaitUntil([&] { return worker.Done(); }));
}

// A dialog the program has no template for cannot be shown: no animation, the owner stays on.
TEST_F(QtUserInterfaceTest, UnknownAnimationDialogIsNotShown) {
  QWidget owner;
  owner.show();
  m_ui.SetMainWindow(&owner);
  CWorker worker([&] {
    CAnimWait animation(4711, 0);
    animation.SetText("%s", "ignored");
    return animation.IsRunning() ? 1 : 0;
  });
  ASSERT_TRUE(WaitUntil([&] { return worker.Done(); }));
  EXPECT_EQ(worker.Result(), 0);
  EXPECT_EQ(m_ui.AnimationWindow(), nullptr);
  EXPECT_TRUE(owner.isEnabled());
}

// The wait cursor follows the core; a question asked meanwhile gets the arrow back.
TEST_F(QtUserInterfaceTest, QuestionsShowTheArrowUnderTheWaitCursor) {
  CWorker worker([&] {
    m_ui.BeginWaitCursor();
    int answer = m_ui.MessageBox("?", MB_OKCANCEL);
    m_ui.EndWaitCursor();
    return answer;
  });
  ASSERT_TRUE(WaitUntil([] { return OpenMessageBox() != nullptr; }));
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
  QTest::keyClick(OpenMessageBox(), Qt::Key_Escape);
  ASSERT_TRUE(WaitUntil([&] { return worker.Done(); }));
  QApplication::processEvents();
  EXPECT_EQ(worker.Result(), IDCANCEL);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// On the core thread the pump only reports a quit request, which stays pending.
TEST_F(QtUserInterfaceTest, PumpReportsAQuitRequestUntilTheEnd) {
  CWorker before([&] { return m_ui.PumpPendingMessages() ? 1 : 0; });
  ASSERT_TRUE(WaitUntil([&] { return before.Done(); }));
  EXPECT_EQ(before.Result(), 1);
  m_ui.RequestQuit();
  CWorker after([&] { return (m_ui.PumpPendingMessages() ? 1 : 0) + (m_ui.PumpPendingMessages() ? 1 : 0); });
  ASSERT_TRUE(WaitUntil([&] { return after.Done(); }));
  EXPECT_EQ(after.Result(), 0);
}

}  // namespace
