#include "console/update_command.h"

#include "console/console_session.h"
#include "console/console_sheet_view.h"
#include "console/console_user_interface.h"
#include "wizard/done_page.h"
#include "wizard/flash_page.h"
#include "wizard/page_sequences.h"
#include "wizard/progress_page.h"
#include "wizard/start_page.h"
#include "wizard/wizard_sheet.h"
#include "wizard/wizard_state.h"

namespace {

int ExitStatus(const CConsoleSheetView& view, const CStartPage& startPage, bool catalogOpen) {
  if (!catalogOpen || !view.IdListed()) return kExitSetup;
  if (view.ReachedDone()) return TheWizardState().DoneMessageId == 38 ? kExitFailed : kExitOk;
  if (view.Declined()) return kExitSetup;
  switch (startPage.LastOutcome()) {
    case CStartPage::NextOutcome::NotConnected:
    case CStartPage::NextOutcome::ConnectException:
      return kExitNotConnected;
    default:
      return kExitSetup;
  }
}

}  // namespace

int RunUpdateCommand(const CommandArgs& args) {
  ConsoleSession& session = Console();
  if (args.size() != 1) {
    std::fprintf(session.streams.err, "tavrix-update-cli: usage: update ID\n");
    return kExitSetup;
  }
  CConsoleSheetView view(*session.ui, session, args[0]);
  CMyPropertySheet sheet(view, 57344);
  CStartPage startPage;
  CFlashPage flashPage;
  CProgressPage progressPage;
  CDonePage donePage;
  sheet.AddWizardPage(&startPage);
  sheet.AddWizardPage(&flashPage);
  sheet.AddWizardPage(&progressPage);
  sheet.AddWizardPage(&donePage);
  sheet.SetPageSequence(kFullSequence, true);
  sheet.DoModal();
  bool catalogOpen = TheWizardState().Catalog.IsOpen();
  TheWizardState().Catalog.CloseCatalog();
  return ExitStatus(view, startPage, catalogOpen);
}
