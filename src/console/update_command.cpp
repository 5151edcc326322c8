#include "console/update_command.h"

#include "console/console_session.h"
#include "console/console_sheet_view.h"
#include "console/console_user_interface.h"
#include "wizard/the_app.h"
#include "wizard/wizard_state.h"

namespace {

int ExitStatus(const CConsoleSheetView& view, CStartPage::NextOutcome startOutcome, bool catalogOpen) {
  if (!catalogOpen || !view.IdListed()) return kExitSetup;
  if (view.ReachedDone()) return TheWizardState().DoneMessageId == 38 ? kExitFailed : kExitOk;
  if (view.Declined()) return kExitSetup;
  switch (startOutcome) {
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
  CStartPage::NextOutcome startOutcome = RunUpdateWizard(view);
  bool catalogOpen = TheWizardState().Catalog.IsOpen();
  TheWizardState().Catalog.CloseCatalog();
  return ExitStatus(view, startOutcome, catalogOpen);
}
