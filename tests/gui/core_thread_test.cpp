#include "gui/core_thread.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/qt_wizard_sheet_view.h"
#include "gui/wizard_window.h"
#include "gui_test_support.h"
#include "wizard/dialog_templates.h"

namespace {

// The program's event loop ends when the core returns, although the wizard window refuses to
// close while the core runs; the core's exit code becomes the program's.
TEST(CoreThreadTest, EventLoopEndsWhenTheCoreReturns) {
  gui_test::Application();
  CWizardWindow window;
  CQtWizardSheetView view(window);
  window.ShowPage(kStartPageId);
  ASSERT_TRUE(window.isVisible());

  CCoreThread core(window, [&view] {
    // The person closes the window, then presses Cancel: the core ends on Cancel.
    int actions = 0;
    while (view.WaitForAction().action != WizardAction::Cancel) ++actions;
    return 40 + actions;
  });
  QTimer::singleShot(0, &window, [&window] {
    window.close();
    QTest::mouseClick(window.Button(CWizardWindow::kCancelButton), Qt::LeftButton);
  });
  // A hung core must fail the test, not hang it.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
  guard.start(20000);

  EXPECT_EQ(QApplication::exec(), 41);
  core.Wait();
  EXPECT_TRUE(core.IsDone());
  EXPECT_EQ(core.ExitCode(), 41);
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
