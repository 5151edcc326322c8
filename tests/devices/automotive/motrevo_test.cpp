// The trainer's protocol object over a memory transport: what Identify sends and accepts, the
// version it reads; and the firmware text as it is cut into the lines that are sent.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "devices/automotive/motrevo.h"
#include "devices/automotive/motrevo_text_file.h"
#include "image/image_listing.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "support/memory_stream.h"
#include "support/scripted_user_interface.h"
#include "support/temp_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class CMemoryMotrevo : public CMotrevo {
 public:
  CMemoryMotrevo() {
    auto stream = std::make_unique<CMemoryStream>();
    stream->Open();
    memory = stream.get();
    m_stream = std::move(stream);
  }
  CMemoryStream* memory;
};

TEST(MotrevoTest, IdentifyComparesTheFirstNineCharactersOfTheTemplate) {
  SetUiLanguage(LANG_ENGLISH);
  struct Case {
    std::string identity;
    bool accepted;
    bool wrongDevice;  // message 20007 with the whole template
    std::uint16_t version;
  };
  const Case cases[] = {
      {"ZRxxxx-xx.002.015.003", true, false, 2},
      {"ZRxxxx-xx.312.015.003", true, false, 312},
      {"ZRxxxx-xx", true, false, 0},  // no version: 0
      {"ZRxxxx-xxZ", true, false, 0},
      {"ZRXXXX-XX.312.015.003", false, true, 312},  // the x are compared literally
      {"ZRxxxx-x", false, true, 0},
      {"ZR6618-7D Quadrel 307", false, true, 0},
      {"", false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity);
    CScriptedUserInterface ui;
    CMemoryMotrevo device;
    device.memory->AnswerText("stale");  // dropped before the question
    device.memory->ReplyToNextWrite(c.identity + std::string(1, '\0'));
    EXPECT_EQ(device.Identify(), c.accepted);
    EXPECT_EQ(device.memory->written, Bytes{0x0B});
    EXPECT_EQ(CStreamDevice::ParseVersionAt(device.Identity(), CMotrevo::kVersionIndex), c.version);
    std::vector<std::string> messages;
    if (c.wrongDevice) {
      messages.push_back(FormatMessage(LoadResString(20007), {c.identity, "ZRxxxx-xx.AAA.BBB.CCC"}));
    }
    EXPECT_EQ(ui.MessageTexts(), messages);
  }
}

TEST(MotrevoTest, BytesFromEightyUpAreWidenedWithTheirSign) {
  EXPECT_EQ(MotrevoTextToUtf8("A\x80\xE9\xFF"), "A\uFF80\uFFE9\uFFFF");
}

// What each listing unit carries, for the file with `text`.
std::vector<std::string> Lines(const std::string& text) {
  CTempFolder folder;
  CMotrevoTextFile file;
  EXPECT_TRUE(file.Load(folder.Write("firmware.srec", text))) << file.LastError().Message();
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < file.LineCount(); ++i) lines.emplace_back(file.Line(i).begin(), file.Line(i).end());
  return lines;
}

TEST(MotrevoTextFileTest, LinesLoseTheirLineEndsAndEmptyLinesStay) {
  using L = std::vector<std::string>;
  EXPECT_EQ(Lines("S0\r\nS1\r\nS9\r\n"), (L{"S0", "S1", "S9"}));
  EXPECT_EQ(Lines("S0\nS1\nS9"), (L{"S0", "S1", "S9"}));  // the last line without its end
  EXPECT_EQ(Lines("S0\n\nS9\n\n"), (L{"S0", "", "S9", ""}));
  EXPECT_EQ(Lines("S0\rX\r\r\n"), (L{"S0\rX\r"}));  // only the CR before LF is a line end
  EXPECT_EQ(Lines("S0\r\nS9\r\n\x1A"
                  "after the end\r\n"),
            (L{"S0", "S9"}));
}

// Text without a character to send would leave the trainer in its loader, told "done".
TEST(MotrevoTextFileTest, TextWithNothingToSendIsRefused) {
  SetUiLanguage(LANG_ENGLISH);
  CTempFolder folder;
  for (const char* text : {"", "\n", "\r\n\n", "\x1A", "\x1A" "S0\n"}) {
    CMotrevoTextFile file;
    const std::string path = folder.Write("firmware.srec", text);
    EXPECT_FALSE(file.Load(path)) << text;
    EXPECT_EQ(file.LastError().Message(), path + ": The file holds no data to send.");
    EXPECT_EQ(file.LineCount(), 0u);
  }
}

TEST(MotrevoTextFileTest, WhatIsNotARegularFileIsRefusedBeforeItIsRead) {
  SetUiLanguage(LANG_ENGLISH);
  CMotrevoTextFile file;
  CTempFolder folder;
  const std::string pipe = folder / "firmware.srec";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << "opening it must not wait for a writer";
  for (const std::string& path : {std::string("/dev/zero"), pipe}) {
    EXPECT_FALSE(file.Load(path));
    EXPECT_EQ(file.LastError().Message(),
              path + ": This is not a regular file; an image is read only from a file whose size is known.");
  }
  EXPECT_FALSE(file.Load("/nonexistent/motrevo.srec"));
  EXPECT_TRUE(file.LastError().IsSet());
}

class CCollectingSink : public IImageListingSink {
 public:
  void Unit(const std::string& line, std::span<const std::uint8_t> sent) override {
    units.push_back(line);
    bytes.insert(bytes.end(), sent.begin(), sent.end());
  }
  void Summary(const std::string&) override {}
  std::vector<std::string> units;
  std::string bytes;
};

TEST(MotrevoTextFileTest, InspectListsEveryLineWithTheBytesSent) {
  CTempFolder folder;
  const CImageKind* kind = CImageListingRegistry::Instance().FindKind("lines");
  ASSERT_NE(kind, nullptr);
  CCollectingSink sink;
  CImageLoadError error = kind->List(folder.Write("f.srec", "S00600004844521B\r\n\r\nS9030000FC\r\n"), {}, sink);
  EXPECT_FALSE(error.IsSet());
  EXPECT_EQ(sink.units, (std::vector<std::string>{"line 1 length 16", "line 2 length 0", "line 3 length 10"}));
  EXPECT_EQ(sink.bytes, "S00600004844521BS9030000FC");
}

}  // namespace
