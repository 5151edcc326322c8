#include "console/update_command.h"

#include "console/console_session.h"
#include "console/console_sheet_view.h"
#include "console/console_user_interface.h"
#include "wizard/the_app.h"
#include "wizard/wizard_state.h"

namespace {

int ExitStatus(const CConsoleSheetView& view, CStartPage::NextOutcome startOutcome, bool catalogOpen,
               const CConsoleUserInterface& ui) {
  if (!catalogOpen || !view.IdListed()) return kExitSetup;
  if (view.ReachedDone()) return TheWizardState().DoneMessageId == 38 ? kExitFailed : kExitOk;
  if (view.Declined()) return kExitSetup;
  // Several network units answered and none was chosen: the caller has to say which.
  if (ui.LastConnectOutcome() == CConsoleUserInterface::ConnectOutcome::SeveralDevices) return kExitSetup;
  // --address named nothing that can be reached (a bad port, 0.0.0.0, a host that does not
  // resolve): the command line is wrong.
  if (ui.LastConnectOutcome() == CConsoleUserInterface::ConnectOutcome::AddressRefused) return kExitSetup;
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
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--address" && i + 1 < args.size()) {
      session.options.address = args[++i];
    } else if (args[i].rfind("--address=", 0) == 0) {
      session.options.address = args[i].substr(10);
    } else {
      ids.push_back(args[i]);
    }
  }
  if (ids.size() != 1 || (session.options.address && session.options.address->empty())) {
    std::fprintf(session.streams.err, "tavrix-update-cli: usage: update ID [--address HOST[:PORT]]\n");
    return kExitSetup;
  }
  CConsoleSheetView view(*session.ui, session, ids[0]);
  CStartPage::NextOutcome startOutcome = RunUpdateWizard(view);
  bool catalogOpen = TheWizardState().Catalog.IsOpen();
  TheWizardState().Catalog.CloseCatalog();
  return ExitStatus(view, startOutcome, catalogOpen, *session.ui);
}
