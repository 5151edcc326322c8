#pragma once
// The progress display of the terminal: the status line, the detail line and the bar on one
// refreshing line on a terminal; plain lines otherwise (the bar in steps of ten percent).

#include <cstdio>
#include <string>

class CConsoleProgress {
 public:
  CConsoleProgress(std::FILE* out, bool terminal) : m_out(out), m_terminal(terminal) {}

  void SetStatus(const std::string& text);
  void SetDetail(const std::string& text);
  void SetRange(int lower, int upper);
  void SetPos(int position);
  void SetMarquee();
  // A line that stays, on a terminal too: what the update names once (the project it sends).
  void Line(const std::string& text);
  // Ends the refreshing line, so that other output starts on a line of its own.
  void Break();

 private:
  void Redraw();
  std::string Bar() const;
  int Percent() const;

  std::FILE* m_out;
  bool m_terminal;
  std::string m_status;
  std::string m_detail;
  bool m_barShown = false;
  bool m_marquee = false;
  int m_lower = 0;
  int m_upper = 100;
  int m_position = 0;
  int m_lastStep = -1;
  bool m_lineOpen = false;
};
