#pragma once
// The program's own file path (/proc/self/exe), which the catalog and the firmware paths are
// found beside. Tests put the program somewhere else with SetModuleFileName.

#include <string>

std::string ModuleFileName();
// Overrides the module file name (empty restores /proc/self/exe).
void SetModuleFileName(const std::string& path);
// The folder of the module file, ending in "/".
std::string ModuleFolder();
