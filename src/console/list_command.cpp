#include "console/list_command.h"

#include "console/console_session.h"
#include "console/json_output.h"
#include "wizard/start_page.h"
#include "wizard/wizard_state.h"

int RunListCommand(const CommandArgs& args) {
  if (!args.empty()) {
    std::fprintf(Console().streams.err, "tavrix-update-cli: list takes no arguments\n");
    return kExitSetup;
  }
  DeviceCatalog& catalog = TheWizardState().Catalog;
  if (!catalog.OpenCatalog()) return kExitSetup;  // the message named the file
  std::vector<std::string> lines;
  catalog.ListDevices(lines);
  catalog.CloseCatalog();
  for (const std::string& line : lines) {
    if (JsonMode()) {
      std::string id = CStartPage::IdOfLine(line);
      std::string name = line.substr(line.find('\t') + 1);
      EmitJson({{"type", "entry"}, {"id", id}, {"name", name}});
    } else {
      std::fprintf(Console().streams.out, "%s\n", line.c_str());
    }
  }
  return kExitOk;
}
