// The terminal's progress display fed the calls whole updates make, family by family: off a
// terminal (a log, a pipe) it writes a line per status that says something new, no bars and no
// turning characters, and at most one progress line per tenth; on a terminal it rewrites one
// line in place, and only when it changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "console/console_progress.h"
#include "platform/text_format.h"

namespace {

// What one family's update tells the display, in order.
struct RecordedRun {
  const char* family;
  std::function<void(CConsoleProgress&)> play;
  std::size_t maxLines;  // off a terminal
};

// The ATMU device: the image loaded, then 518 pages, each named twice, the bar counting pages.
void AtmuRun(CConsoleProgress& progress) {
  progress.SetStatus("Loading data.");
  progress.SetRange(0, 0xFFFF);
  progress.SetRange(0, 518);
  for (int page = 0; page < 518; ++page) {
    progress.SetStatus(FormatText("Writing page %d", page));
    progress.SetStatus(FormatText("Writing page %2d at 0%04X\n", page, page * 128));
    progress.SetPos(page + 1);
  }
  progress.SetStatus("Rebooting device.");
  progress.SetStatus("");
}

// The servo trainer's drive: a busy bar, then the project's steps, each file sent in segments
// under a turning slash, the bar counting files.
void ServoRun(CConsoleProgress& progress) {
  progress.SetMarquee();
  progress.SetRange(0, 4);
  for (const char* step : {"Install GCI", "Check, if the prerequisites for the download are OK", "Initialize download",
                           "Check project selection", "Read config file", "DEVCONF.DAT", "Check target"}) {
    progress.SetStatus(step);
  }
  int position = 0;
  for (const char* file : {"DEVCONF.DAT", "APPLICATION.BIN", "PARAMETERS.DAT"}) {
    progress.SetStatus(FormatText("Transfering %s", file));
    for (int segment = 0; segment < 300; ++segment) progress.SetDetail(segment % 2 == 0 ? "/" : "\\");
    progress.SetPos(++position);
  }
  progress.SetStatus("Finish download");
  progress.SetPos(4);
}

// A 2A interface's segment download, told through the animation window's text: no bar.
void SegmentRun(CConsoleProgress& progress) {
  progress.SetStatus("Firmware Update: Updating Firmware. Please wait...");
  progress.SetStatus("Loading data..");
  for (int segment = 1; segment <= 9; ++segment) {
    progress.SetStatus(FormatText("Programming segment %d at %05X\n", segment, segment * 0x1000));
  }
}

std::vector<RecordedRun> Runs() {
  return {{"ATMU", AtmuRun, 3 + 11 + 1}, {"servo", ServoRun, 7 + 3 + 1 + 5}, {"2A segments", SegmentRun, 11}};
}

std::string Played(const std::function<void(CConsoleProgress&)>& play, bool terminal) {
  std::FILE* out = std::tmpfile();
  {
    CConsoleProgress progress(out, terminal);
    play(progress);
    progress.Break();
  }
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

TEST(ConsoleProgressTest, OffATerminalEachRunIsAShortLogWithoutBarsOrTurningCharacters) {
  for (const RecordedRun& run : Runs()) {
    SCOPED_TRACE(run.family);
    const std::vector<std::string> lines = Lines(Played(run.play, false));
    EXPECT_LE(lines.size(), run.maxLines) << Played(run.play, false);
    EXPECT_GE(lines.size(), 3u);
    for (const std::string& line : lines) {
      EXPECT_FALSE(line.empty());
      EXPECT_EQ(line.find('['), std::string::npos) << line;
      EXPECT_EQ(line.find('\r'), std::string::npos) << line;
      EXPECT_NE(line, "/");
      EXPECT_NE(line, "\\");
    }
    // No line twice in a row, and the progress lines climb by tenths.
    EXPECT_EQ(std::adjacent_find(lines.begin(), lines.end()), lines.end());
    std::vector<int> tenths;
    for (const std::string& line : lines) {
      if (!line.empty() && line.back() == '%') tenths.push_back(std::stoi(line));
    }
    EXPECT_TRUE(std::is_sorted(tenths.begin(), tenths.end()));
    EXPECT_EQ(std::adjacent_find(tenths.begin(), tenths.end()), tenths.end());
    EXPECT_LE(tenths.size(), 11u);
  }
  // What the person needs from the ATMU's log: that pages are written, how far, and the end.
  const std::string atmu = Played(AtmuRun, false);
  EXPECT_EQ(atmu, "Loading data.\nWriting page 0\nWriting page  0 at 00000\n0%\n10%\n20%\n30%\n40%\n50%\n60%\n70%\n80%\n"
                  "90%\n100%\nRebooting device.\n");
}

TEST(ConsoleProgressTest, OnATerminalTheLineIsDrawnOnlyWhenItChanges) {
  for (const RecordedRun& run : Runs()) {
    SCOPED_TRACE(run.family);
    const std::string text = Played(run.play, true);
    const std::size_t draws = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r'));
    // One line, rewritten in place: no line breaks but the one at the end.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text.substr(0, 400);
    EXPECT_GT(draws, 2u);
    // Every draw shows something the one before did not.
    std::vector<std::string> drawn;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, '\r');) {
      if (!part.empty()) drawn.push_back(part);
    }
    EXPECT_EQ(std::adjacent_find(drawn.begin(), drawn.end()), drawn.end());
  }
}
