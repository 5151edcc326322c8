#include "wizard/wizard_sheet.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>

#include "support/scripted_sheet_view.h"
#include "support/scripted_user_interface.h"
#include "wizard/message_pump.h"
#include "wizard/wizard_page.h"

namespace {

constexpr int kFull[] = {1000, 30504, 1002, 1003, 0};

// A page whose auto-run and Next are given by the test.
class CTestPage : public CWizardPage {
 public:
  explicit CTestPage(int id) : CWizardPage(id) {}
  std::function<int()> autoRun = [] { return -1; };
  std::function<void()> onNext;
  std::optional<int> nextResult;  // stays -1 etc. instead of the sequence's next page
  std::vector<std::string> exceptions;
  int inits = 0;
  int activations = 0;

  int OnAutoRun() override { return autoRun(); }
  void OnException(const std::exception& exception) override { exceptions.push_back(exception.what()); }
  bool OnInitDialog() override {
    ++inits;
    return CWizardPage::OnInitDialog();
  }
  bool OnSetActive() override {
    ++activations;
    return CWizardPage::OnSetActive();
  }
  int OnWizardNext() override {
    if (onNext) onNext();
    return nextResult ? *nextResult : CWizardPage::OnWizardNext();
  }
};

// A sheet with four test pages in the update wizard's order.
class SheetTest : public ::testing::Test {
 protected:
  SheetTest() {
    for (CTestPage* page : {&m_start, &m_flash, &m_progress, &m_done}) m_sheet.AddWizardPage(page);
    m_sheet.SetPageSequence(kFull, true);
  }
  void MoveTo(int position) {
    m_sheet.SetPageSequence(m_sheet.PageSequence().data(), true);
    for (int i = 0; i < position; ++i) m_sheet.NextPageId();
  }

  CScriptedUserInterface m_ui;
  CScriptedSheetView m_view;
  CWizardSheet m_sheet{m_view, 57344};
  CTestPage m_start{1000}, m_flash{30504}, m_progress{1002}, m_done{1003};
};

struct ButtonCase {
  const char* name;
  std::vector<int> sequence;  // without the terminating 0
  int position;
  unsigned buttons;
};

class SheetButtons : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(SheetButtons, ComputedFromTheSequence) {
  CScriptedSheetView view;
  CWizardSheet sheet(view, 0);
  std::vector<int> ids = GetParam().sequence;
  if (!ids.empty()) ids.push_back(0);
  sheet.SetPageSequence(ids.empty() ? nullptr : ids.data(), true);
  for (int i = 0; i < GetParam().position; ++i) sheet.NextPageId();
  ASSERT_EQ(sheet.CurrentPosition(), GetParam().position);
  EXPECT_EQ(sheet.ComputeWizardButtons(), GetParam().buttons);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SheetButtons,
    ::testing::Values(ButtonCase{"FirstPageNextOnly", {1000, 30504, 1002, 1003}, 0, PSWIZB_NEXT},
                      ButtonCase{"SecondPageBackAndNext", {1000, 30504, 1002, 1003}, 1, PSWIZB_NEXT | PSWIZB_BACK},
                      ButtonCase{"AfterNoReturnMarkNextOnly", {-1, 30504, 1002, 1003}, 1, PSWIZB_NEXT},
                      ButtonCase{"LastPageFinishAndBack", {1000, 30504, 1002, 1003}, 3, PSWIZB_FINISH | PSWIZB_BACK},
                      ButtonCase{"LastPageAfterMarkFinishOnly", {1000, 30504, -1, 1003}, 3, PSWIZB_FINISH},
                      ButtonCase{"OnlyPageFinish", {1000}, 0, PSWIZB_FINISH},
                      ButtonCase{"UpToDateDonePage", {-1, 1003}, 1, PSWIZB_FINISH},
                      ButtonCase{"EmptySequence", {}, 0, PSWIZB_BACK | PSWIZB_NEXT}),
    [](const auto& testCase) { return testCase.param.name; });

TEST_F(SheetTest, NoReturnMarkOnFirstPageLeavesNextOnly) {
  m_sheet.MarkNoReturn();
  EXPECT_EQ(m_sheet.NextPageId(), 30504);
  EXPECT_EQ(m_sheet.ComputeWizardButtons(), unsigned{PSWIZB_NEXT});
  EXPECT_EQ(m_sheet.PageSequence(), (std::vector<int>{-1, 30504, 1002, 1003, 0}));
}

TEST_F(SheetTest, SequenceIsCopiedWithItsTerminator) {
  int ids[] = {1000, 1003, 0, 77};
  m_sheet.SetPageSequence(ids, true);
  ids[1] = 5;
  EXPECT_EQ(m_sheet.PageSequence(), (std::vector<int>{1000, 1003, 0}));
}

TEST_F(SheetTest, SetPageSequenceKeepsOrResetsThePosition) {
  MoveTo(2);
  m_sheet.SetPageSequence(kFull, false);
  EXPECT_EQ(m_sheet.CurrentPosition(), 2);
  m_sheet.SetPageSequence(kFull, true);
  EXPECT_EQ(m_sheet.CurrentPosition(), 0);
  // Replacing the sequence on the first page keeps the position 0.
  constexpr int kUpToDate[] = {1000, 1003, 0};
  m_sheet.SetPageSequence(kUpToDate, false);
  EXPECT_EQ(m_sheet.CurrentPosition(), 0);
  EXPECT_EQ(m_sheet.NextPageId(), 1003);
}

TEST_F(SheetTest, PreviousPageRule) {
  EXPECT_EQ(m_sheet.PrevPageId(), 0);  // position 0: the framework's neighbour
  MoveTo(2);
  EXPECT_EQ(m_sheet.PrevPageId(), 30504);
  EXPECT_EQ(m_sheet.CurrentPosition(), 1);
  // Before a 0 entry the position stays and the entry there is returned.
  constexpr int kOdd[] = {1000, 0};
  CWizardSheet sheet(m_view, 0);
  sheet.SetPageSequence(kOdd, true);
  EXPECT_EQ(sheet.PrevPageId(), 0);
}

TEST_F(SheetTest, EmptySequenceLeavesNavigationToTheFramework) {
  CWizardSheet sheet(m_view, 0);
  EXPECT_EQ(sheet.NextPageId(), 0);
  EXPECT_EQ(sheet.PrevPageId(), 0);
  EXPECT_EQ(sheet.ComputeWizardButtons(), unsigned{PSWIZB_BACK | PSWIZB_NEXT});
}

TEST_F(SheetTest, GoToPageMovesToTheFirstEntryHoldingIt) {
  constexpr int kRepeated[] = {1000, 1003, 1002, 1003, 0};
  m_sheet.SetPageSequence(kRepeated, true);
  m_view.Queue(WizardAction::Cancel);
  m_view.onWait = [this](CScriptedSheetView&) {
    if (m_view.waits == 1) m_sheet.GoToPage(1003);
  };
  m_sheet.DoModal();
  EXPECT_EQ(m_sheet.CurrentPosition(), 1);
  EXPECT_EQ(m_sheet.ActivePage(), &m_done);
  EXPECT_EQ(m_view.shownPage, 1003);
}

TEST_F(SheetTest, NextOnTheLastPagePressesFinish) {
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Next);
  // On the done page Next is gone; the sheet's own NextPageId presses Finish.
  m_done.autoRun = [this] { return m_sheet.NextPageId(); };
  EXPECT_EQ(m_sheet.DoModal(), IDOK);
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{1000, 30504, 1002, 1003}));
  EXPECT_EQ(m_sheet.CurrentPosition(), 3);
}

TEST_F(SheetTest, ModalRunShowsCaptionFirstPageAndButtons) {
  m_view.Queue(WizardAction::Cancel);
  EXPECT_EQ(m_sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(m_view.caption, "Tavrix Update");
  EXPECT_EQ(m_view.shownPages, std::vector<int>{1000});
  EXPECT_EQ(m_view.buttonStates, std::vector<unsigned>{PSWIZB_NEXT});
  EXPECT_EQ(m_start.inits, 1);
  EXPECT_EQ(m_sheet.Running(), nullptr);
}

TEST_F(SheetTest, EachPageIsInitialisedOnceAndAutoRunsOnce) {
  int runs = 0;
  m_flash.autoRun = [&runs] {
    ++runs;
    return -1;
  };
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Back);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Cancel);
  m_sheet.DoModal();
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{1000, 30504, 1000, 30504}));
  EXPECT_EQ(m_flash.inits, 1);
  EXPECT_EQ(m_flash.activations, 2);
  EXPECT_EQ(runs, 1);
}

struct AutoRunCase {
  const char* name;
  std::function<int()> autoRun;
  int expectedPage;
  int exceptions;
};

class SheetAutoRun : public SheetTest, public ::testing::WithParamInterface<AutoRunCase> {};

TEST_P(SheetAutoRun, ResultDecidesThePage) {
  m_start.autoRun = GetParam().autoRun;
  m_view.Queue(WizardAction::Close);
  m_sheet.DoModal();
  EXPECT_EQ(m_view.shownPage, GetParam().expectedPage);
  EXPECT_EQ(static_cast<int>(m_start.exceptions.size()), GetParam().exceptions);
  EXPECT_EQ(m_ui.waitCursorDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SheetAutoRun,
    ::testing::Values(AutoRunCase{"MinusOneStays", [] { return -1; }, 1000, 0},
                      AutoRunCase{"ZeroGoesOnAsNextWould", [] { return 0; }, 30504, 0},
                      AutoRunCase{"IdGoesToThatPage", [] { return 1003; }, 1003, 0},
                      AutoRunCase{"ExceptionGoesOn", []() -> int { throw std::runtime_error("boom"); }, 30504, 1}),
    [](const auto& testCase) { return testCase.param.name; });

TEST_F(SheetTest, AutoRunShowsTheWaitCursorAndDrawsThePageFirst) {
  int depthDuringRun = 0;
  m_start.autoRun = [&] {
    depthDuringRun = m_ui.waitCursorDepth;
    // The pump inside the auto-run has delivered the page's button state already.
    EXPECT_EQ(m_view.buttonStates, std::vector<unsigned>{PSWIZB_NEXT});
    return -1;
  };
  m_view.Queue(WizardAction::Cancel);
  m_sheet.DoModal();
  EXPECT_EQ(depthDuringRun, 1);
  EXPECT_EQ(m_ui.waitCursorDepth, 0);
}

TEST_F(SheetTest, DisabledOrStaleButtonsDoNothing) {
  m_view.Queue(WizardAction::Back);            // Back is off on the first page
  m_view.Queue(WizardAction::Finish);          // so is Finish
  m_view.Queue(WizardAction::Cancel, 1003);    // pressed on a page that is not shown
  m_view.Queue(WizardAction::Next, 30504);
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Cancel);
  EXPECT_EQ(m_sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{1000, 30504}));
}

TEST_F(SheetTest, CloseBoxFollowsCancel) {
  m_start.autoRun = [this] {
    m_sheet.EnableCancel(false);
    return -1;
  };
  m_view.Queue(WizardAction::Close);   // Cancel is off: nothing happens
  m_view.Queue(WizardAction::Cancel);  // nor here
  m_view.onWait = [this](CScriptedSheetView& view) {
    if (view.waits == 3) m_sheet.CancelToClose();
  };
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Close);   // the work is done: the close box ends the wizard
  EXPECT_EQ(m_sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(m_view.waits, 4);
  EXPECT_FALSE(m_view.cancelEnabled);
  EXPECT_TRUE(m_view.cancelToClose);
}

TEST_F(SheetTest, ButtonStatesAreDeliveredInPostingOrder) {
  m_start.autoRun = [this] {
    m_sheet.PostWizardButtons(PSWIZB_BACK);
    m_sheet.PostWizardButtons(0);
    EXPECT_EQ(m_view.buttonStates.size(), 1u);  // posted, not sent
    return -1;
  };
  m_view.Queue(WizardAction::Cancel);
  m_sheet.DoModal();
  EXPECT_EQ(m_view.buttonStates, (std::vector<unsigned>{PSWIZB_NEXT, PSWIZB_BACK, 0}));
  EXPECT_EQ(m_sheet.WizardButtons(), 0u);
}

TEST_F(SheetTest, QuitMetDuringWorkEndsTheWizardAfterIt) {
  std::vector<bool> pumps;
  m_start.autoRun = [&] {
    m_view.QueueDuringWork({WizardAction::Close});
    pumps.push_back(PumpPendingMessages());
    pumps.push_back(PumpPendingMessages());  // the request stays pending
    return 1003;                             // the work runs to its end
  };
  EXPECT_EQ(m_sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(pumps, (std::vector<bool>{false, false}));
  EXPECT_EQ(m_view.waits, 0);
  EXPECT_EQ(m_view.shownPage, 1003);
}

TEST_F(SheetTest, FrontEndQuitRequestEndsTheWizardToo) {
  m_start.autoRun = [&] {
    m_ui.quitRequested = true;
    EXPECT_FALSE(PumpPendingMessages());
    return -1;
  };
  m_sheet.DoModal();
  EXPECT_EQ(m_view.waits, 0);
}

TEST_F(SheetTest, PumpWithNothingWaitingReturnsTrue) {
  m_start.autoRun = [] {
    EXPECT_TRUE(PumpPendingMessages());
    return -1;
  };
  m_view.Queue(WizardAction::Cancel);
  m_sheet.DoModal();
  EXPECT_TRUE(PumpPendingMessages());  // no sheet running: the front end's pump only
}

TEST_F(SheetTest, ButtonsPressedDuringWorkApplyOnlyToTheirPage) {
  // Next pressed twice on the start page while its Next runs: the second press was meant for
  // the start page and must never confirm the flash page.
  m_start.onNext = [this] {
    m_view.QueueDuringWork({WizardAction::Next});
    EXPECT_TRUE(PumpPendingMessages());
  };
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Cancel);
  m_sheet.DoModal();
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{1000, 30504}));
}

TEST_F(SheetTest, ButtonsPressedDuringWorkOnAPageThatStaysAreHandledAfterIt) {
  // Cancel pressed while the start page's Next runs (and fails): it ends the wizard afterwards.
  m_start.nextResult = -1;
  m_start.onNext = [this] {
    m_view.QueueDuringWork({WizardAction::Cancel});
    EXPECT_TRUE(PumpPendingMessages());
    EXPECT_EQ(m_view.waits, 1);  // not yet: the handler is still running
  };
  m_view.Queue(WizardAction::Next);
  EXPECT_EQ(m_sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(m_view.waits, 1);
}

TEST_F(SheetTest, CancelPressedDuringASuccessfulNextEndsTheWizardAfterIt) {
  // Cancel pressed while the start page connects, and the connect succeeds: the wizard ends on
  // the page the work led to, and a later Next there is never taken.
  m_start.onNext = [this] {
    m_view.QueueDuringWork({WizardAction::Cancel, 1000});
    EXPECT_TRUE(PumpPendingMessages());
  };
  m_view.Queue(WizardAction::Next);
  m_view.Queue(WizardAction::Next, 30504);
  EXPECT_EQ(m_sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(m_view.shownPages, (std::vector<int>{1000, 30504}));
  EXPECT_EQ(m_view.waits, 1) << "nothing after the Cancel was taken";
}

TEST_F(SheetTest, SelectionAndAboutAreHandledDuringWork) {
  struct CListPage : CTestPage {
    using CTestPage::CTestPage;
    int selected = -5;
    void OnSelectionChanged(int, int index) override { selected = index; }
  } page(1000);
  CScriptedSheetView view;
  CMyPropertySheet sheet(view, 57344);
  sheet.AddWizardPage(&page);
  page.autoRun = [&] {
    view.QueueDuringWork({WizardAction::SelectionChanged, 1000, 401, 3});
    view.QueueDuringWork({WizardAction::About});
    PumpPendingMessages();
    EXPECT_EQ(page.selected, 3);
    EXPECT_EQ(view.aboutBoxes, 1);
    return -1;
  };
  view.Queue(WizardAction::About);
  view.Queue(WizardAction::Cancel);
  sheet.DoModal();
  EXPECT_EQ(view.aboutBoxes, 2);
  EXPECT_EQ(view.aboutEntry, "Inf&o");
}

TEST_F(SheetTest, PositionOutsideTheSequenceIsAnInvalidArgument) {
  constexpr int kOne[] = {0};
  m_sheet.SetPageSequence(kOne, true);
  EXPECT_THROW(m_sheet.NextPageId(), std::out_of_range);
}

}  // namespace
