#pragma once
// The command line: the framework's switch table, "/" and "-" switches, value-taking
// switches, and response files. Switch names are looked up in the table ignoring letter case
// but recorded as written, and the program asks for them by exact name: only "DEBUG" in upper
// case sets the debug mode.

#include <optional>
#include <string>
#include <vector>

#include "wizard/response_file.h"

class CCommandLine {
 public:
  struct Switch {
    std::string name;   // as written
    std::string value;  // empty for switches without a value
  };

  // Parses the arguments after the program name (response files expanded first). Parsing
  // stops at a switch that is not in the table, or at a value-taking switch without a value.
  static CCommandLine Parse(const std::vector<std::string>& args);

  bool Has(const std::string& exactName) const;
  std::optional<std::string> Value(const std::string& exactName) const;
  const std::vector<Switch>& Switches() const { return m_switches; }
  // The response files left unread because they are too large, as named on the command line.
  const std::vector<CRefusedResponseFile>& RefusedResponseFiles() const { return m_refusedResponseFiles; }

  // The "lang" switch read as a decimal number; nothing when the switch is absent.
  std::optional<int> LanguageId() const;
  // The "DEBUG" switch.
  bool DebugMode() const { return Has("DEBUG"); }

  // The table entry for a switch name (any case): whether it takes a value; nothing when the
  // name is not in the table.
  static std::optional<bool> LookUpSwitch(const std::string& name);

 private:
  std::vector<Switch> m_switches;
  std::vector<CRefusedResponseFile> m_refusedResponseFiles;
};
