#pragma once
// The progress display of the terminal. On a terminal: the status, the detail and the bar on
// one line rewritten in place, drawn again only when it changes. Otherwise, for a log or a
// pipe: a line per status that says something new, no bars and no turning characters, and
// at most one progress line per tenth of the range; every line is flushed as it is written,
// so that nothing is lost when the program is ended.

#include <cstdio>
#include <set>
#include <string>

// Blanks in place of line breaks and no trailing white space: a status as one line.
std::string OneLine(const std::string& text);
// A text with its numbers left out ("Writing page #"): two statuses of one shape say the same
// thing but for how far the work has come.
std::string Shape(const std::string& text);

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
  // Where the bar stands, 0 to 100.
  int Percent() const;

 private:
  void Redraw();
  // Off a terminal: `text` as a line of its own unless it says nothing new after `last`.
  void Print(const std::string& text, std::string& last);
  std::string Bar() const;
  bool Counting() const { return m_barShown && !m_marquee; }

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
  std::string m_drawn;          // on a terminal: the line as it stands
  std::string m_printedStatus;  // off a terminal: the last status line written
  std::string m_printedDetail;
  std::set<std::string> m_countedShapes;  // of the lines written since the bar began
};
