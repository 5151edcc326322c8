#pragma once
// The servo trainer's drive project as its updater finds it beside the catalog: the folder
// Drive001 (the drive attached is number 1) with its project list and three files, the
// drive's configuration, an application that carries its version tag, and parameters.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/text_format.h"
#include "support/temp_folder.h"

// Writes the project into `folder`; the files it lists, name and bytes, in the list's order.
inline std::vector<std::pair<std::string, std::string>> WriteServoProject(const CTempFolder& folder,
                                                                          std::uint16_t applicationVersion) {
  std::string application(3000, 'a');
  application.replace(0x200, 22, FormatText("TAVRIX-FW-VERSION=%u", applicationVersion) + '\0');
  std::vector<std::pair<std::string, std::string>> files = {
      {"DEVCONF.DAT", "[Drive]\r\nNode=1\r\n"}, {"APPLICATION.BIN", application}, {"PARAMETERS.DAT", "C0100=7\r\n"}};
  std::string list = "<?xml version=\"1.0\"?>\n<ProjectExport Version Firmware=\"1.30\" MemoryModule=\"MEM-1024\" "
                     "SafetyModule=\"SAFE-NONE\">\n<Files NumberOfFiles=\"3\">\n";
  for (const auto& [name, bytes] : files) {
    folder.Write("Drive001/" + name, bytes);
    list += "<File Name=\"" + name + "\"/>\n";
  }
  folder.Write("Drive001/ProjectExportList.xml", list + "</Files>\n</ProjectExport>\n");
  return files;
}
