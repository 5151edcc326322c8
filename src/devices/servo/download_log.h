#pragma once
// The download log: every failure the drive operations and the download sequence meet, one
// text for the whole program run, a line feed between entries. Appending pumps pending
// window messages, so that the window stays alive while a long download reports.

#include <string>

class CDownloadLog {
 public:
  void Append(const std::string& text);
  const std::string& Text() const { return m_text; }

 private:
  std::string m_text;
};

// The log of this program run.
CDownloadLog& TheDownloadLog();
