#include "console/console_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

namespace {

// Cuts UTF-8 text to at most `columns` characters.
std::string Fit(const std::string& text, std::size_t columns) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == columns) return text.substr(0, i);
  }
  return text;
}

// The turning characters a long transfer shows: movement on a terminal, noise in a log.
bool IsSpinner(const std::string& text) {
  return !text.empty() && text.find_first_not_of("/\\|-") == std::string::npos;
}


std::size_t TerminalColumns(std::FILE* out) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

// Blanks in place of line breaks and no trailing white space: the texts are single lines here.
std::string OneLine(const std::string& text) {
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  std::replace(line.begin(), line.end(), '\t', ' ');
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// A text with its numbers left out: "Writing page 5 at 00280" and "Writing page 6 at 00300"
// say the same thing but for how far the work has come, which the progress lines tell. A
// word with a digit in it (a decimal or hexadecimal number) counts as a number.
std::string Shape(const std::string& text) {
  std::string shape;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    const bool number = word.find_first_of("0123456789") != std::string::npos;
    shape += (shape.empty() ? "" : " ") + (number ? std::string("#") : word);
  }
  return shape;
}

int CConsoleProgress::Percent() const {
  if (m_upper <= m_lower) return 0;
  int clamped = std::clamp(m_position, m_lower, m_upper);
  return static_cast<int>((static_cast<long long>(clamped - m_lower) * 100) / (m_upper - m_lower));
}

std::string CConsoleProgress::Bar() const {
  if (m_marquee) return "[ working ]";
  if (!m_barShown) return {};
  constexpr int kWidth = 20;
  int filled = Percent() * kWidth / 100;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] " + std::to_string(Percent()) + "%";
}

void CConsoleProgress::Redraw() {
  std::string line = m_status;
  if (!m_detail.empty()) line += (line.empty() ? "" : " | ") + m_detail;
  std::string bar = Bar();
  std::size_t columns = TerminalColumns(m_out) - 1;
  std::size_t room = bar.size() < columns ? columns - bar.size() - (bar.empty() ? 0 : 1) : 0;
  line = Fit(line, room);
  if (!bar.empty()) line += (line.empty() ? "" : " ") + bar;
  if (m_lineOpen && line == m_drawn) return;
  std::fprintf(m_out, "\r\x1b[K%s", line.c_str());
  std::fflush(m_out);
  m_drawn = line;
  m_lineOpen = true;
}

void CConsoleProgress::Print(const std::string& text, std::string& last) {
  if (text.empty() || IsSpinner(text) || text == last) return;
  // While a bar counts, a text that differs from one already written only in its numbers is
  // progress, which the tenths tell.
  if (Counting() && !m_countedShapes.insert(Shape(text)).second) return;
  last = text;
  std::fprintf(m_out, "%s\n", text.c_str());
  std::fflush(m_out);
}

void CConsoleProgress::SetStatus(const std::string& text) {
  m_status = OneLine(text);
  if (m_terminal) {
    Redraw();
  } else {
    Print(m_status, m_printedStatus);
  }
}

void CConsoleProgress::SetDetail(const std::string& text) {
  m_detail = OneLine(text);
  if (m_terminal) {
    Redraw();
  } else {
    Print(m_detail, m_printedDetail);
  }
}

void CConsoleProgress::SetRange(int lower, int upper) {
  m_barShown = true;
  m_marquee = false;
  m_lower = lower;
  m_upper = upper;
  m_lastStep = -1;
  m_countedShapes.clear();
  if (m_terminal) Redraw();
}

void CConsoleProgress::SetPos(int position) {
  m_position = position;
  if (m_terminal) {
    Redraw();
    return;
  }
  int step = Percent() / 10;
  if (Counting() && step != m_lastStep) {
    m_lastStep = step;
    std::fprintf(m_out, "%d%%\n", step * 10);
    std::fflush(m_out);
  }
}

void CConsoleProgress::SetMarquee() {
  m_marquee = true;
  if (m_terminal) Redraw();
}

void CConsoleProgress::Line(const std::string& text) {
  Break();
  std::fprintf(m_out, "%s\n", OneLine(text).c_str());
  std::fflush(m_out);
}

void CConsoleProgress::Break() {
  if (m_lineOpen) std::fprintf(m_out, "\n");
  m_lineOpen = false;
  m_drawn.clear();
  std::fflush(m_out);
}
