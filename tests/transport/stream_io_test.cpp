#include "transport/stream_io.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/string_table.h"
#include "support/memory_stream.h"
#include "support/scripted_user_interface.h"
#include "transport/stream_nul.h"

namespace {

TEST(StreamIO, DWordsGoOutBigEndianOrLowHalfFirst) {
  CMemoryStream stream;
  stream.WriteDWord(0x0800C000);
  stream.WriteDWordLowHalfFirst(0x0800C000);
  stream.WriteDWordLowHalfFirst(0x12345678);
  EXPECT_EQ(stream.written, (std::vector<std::uint8_t>{0x08, 0x00, 0xC0, 0x00, 0xC0, 0x00, 0x08, 0x00,
                                                        0x56, 0x78, 0x12, 0x34}));
}

TEST(StreamIO, WordsAndDWordsAreReadBigEndian) {
  CMemoryStream stream;
  stream.Answer({0xAB, 0xCD, 0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(stream.ReadWord(), 0xABCD);
  EXPECT_EQ(stream.ReadDWord(), 0x01020304u);
}

TEST(StreamIO, ReadStringStopsAtZeroAndKeepsEveryByteValue) {
  CMemoryStream stream;
  stream.Open();
  stream.Answer({'Z', 'R', 0xE9, 0xFF, 0x01, 0x00, 'n', 'e', 'x', 't'});
  EXPECT_EQ(stream.ReadString(), std::string("ZR\xE9\xFF\x01"));
  EXPECT_EQ(stream.input.size(), 4u) << "the zero is consumed, nothing after it";
}

TEST(StreamIO, ReadStringOnAClosedTransportReadsNothing) {
  CMemoryStream stream;
  stream.Answer({'A', 0});
  EXPECT_EQ(stream.ReadString(), "");
  EXPECT_EQ(stream.input.size(), 2u);
}

TEST(StreamIO, EndlessStringIsCutOffWithTransferError) {
  CScriptedUserInterface ui;
  CMemoryStream stream;
  stream.Open();
  stream.Answer(std::vector<std::uint8_t>(CStreamIO::kMaxStringLength, 'x'));
  stream.Answer({0});
  EXPECT_EQ(stream.ReadString().size(), CStreamIO::kMaxStringLength) << "the longest text still fits";

  stream.Answer(std::vector<std::uint8_t>(CStreamIO::kMaxStringLength + 1, 'x'));
  try {
    stream.ReadString();
    FAIL() << "an endless text must not be read without end";
  } catch (const CStreamException& error) {
    EXPECT_EQ(error.MessageId(), 20011);
  }
}

TEST(StreamIO, ExpectAckPassesOnAckAndRefusesAnythingElse) {
  CScriptedUserInterface ui;
  CMemoryStream stream;
  stream.Open();
  stream.Answer({'!'});
  EXPECT_NO_THROW(stream.ExpectAck());
  EXPECT_EQ(stream.clears, 0);

  stream.Answer({'?', 'x', 'y'});
  try {
    stream.ExpectAck();
    FAIL() << "a refusal must raise";
  } catch (const CStreamException& error) {
    EXPECT_EQ(error.MessageId(), 20016);
  }
  EXPECT_EQ(stream.clears, 1);
  EXPECT_TRUE(stream.input.empty()) << "the local input is discarded";
}

TEST(StreamIO, DrainInputReadsWhatIsHeldThenClears) {
  CMemoryStream stream;
  stream.Answer({1, 2, 3});
  stream.DrainInput();
  EXPECT_TRUE(stream.input.empty());
  EXPECT_EQ(stream.clears, 1);
  stream.DrainInput();
  EXPECT_EQ(stream.clears, 1) << "nothing held: nothing to clear";
}

TEST(StreamIO, OpenCountingReleasesOnTheLastClose) {
  CMemoryStream stream;
  stream.Close();
  EXPECT_EQ(stream.OpenCount(), 0);
  EXPECT_EQ(stream.ReleaseOpen(), 0);
  EXPECT_EQ(stream.OpenCount(), 0) << "never below 0";

  stream.Open();
  stream.Open();
  EXPECT_EQ(stream.OpenCount(), 2);
  stream.Close();
  EXPECT_TRUE(stream.IsOpen());
  stream.Close();
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_EQ(stream.OpenCount(), 0);
}

TEST(StreamNUL, StandsInForADeviceWithoutFailing) {
  CStreamNUL stream;
  EXPECT_TRUE(stream.Open());
  EXPECT_EQ(stream.OpenCount(), 0);
  EXPECT_FALSE(stream.IsOpen());
  std::uint8_t buffer[5] = {9, 9, 9, 9, 9};
  stream.Read(buffer, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 5), std::vector<std::uint8_t>(5, 0));
  EXPECT_EQ(stream.ReadString(), "");
  EXPECT_NO_THROW(stream.ExpectAck());
  stream.WriteDWord(1);
  EXPECT_EQ(stream.GetInputCount(), 0u);
  EXPECT_TRUE(stream.ResetDevice());
  EXPECT_EQ(stream.QueryInitFailure(false, true), CStreamIO::kSimulate);
}

TEST(StreamException, MessageFollowsTheIdAndTheLanguageAndBeeps) {
  CScriptedUserInterface ui;
  struct Case {
    int id;
    int language;
    const char* text;
  };
  const Case cases[] = {
      {0, LANG_ENGLISH, "Data transfer error to or from the device."},
      {20016, LANG_ENGLISH, "The interface did not accept the command sended."},
      {20009, LANG_ENGLISH, "Error reading from the USB device.\nThe requested data could not be read."},
      {20010, LANG_GERMAN, "Fehler beim Schreiben auf das USB-Gerät.\nDie Daten konnten nicht geschrieben werden."},
      {0, LANG_RUSSIAN, "Ошибка передачи данных на устройство или с устройства."},
  };
  for (const auto& c : cases) {
    SetUiLanguage(c.language);
    ui.ClearRecord();
    CStreamException error(c.id);
    std::string text;
    int help = -1;
    EXPECT_TRUE(error.GetErrorMessage(text, 1024, &help));
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(help, c.id == 0 ? 20011 : c.id);
    EXPECT_STREQ(error.what(), c.text);
    ASSERT_EQ(ui.Record().size(), 2u) << "one beep per message query";
    EXPECT_EQ(ui.Record()[0].kind, "beep");
  }
  SetUiLanguage(LANG_ENGLISH);
}

TEST(StreamException, MessageIsCutToTheBufferAndAnUnknownIdIsEmpty) {
  CScriptedUserInterface ui;
  SetUiLanguage(LANG_RUSSIAN);
  std::string text;
  EXPECT_TRUE(CStreamException(20011).GetErrorMessage(text, 7));
  EXPECT_EQ(text, "Ошибка") << "six characters, not six bytes";
  SetUiLanguage(LANG_ENGLISH);
  EXPECT_FALSE(CStreamException(12345).GetErrorMessage(text));
  EXPECT_EQ(text, "");
}

TEST(StreamException, ReportShowsTheMessageInABox) {
  CScriptedUserInterface ui;
  SetUiLanguage(LANG_ENGLISH);
  try {
    CStreamIO::ThrowStreamException(20010);
  } catch (const CStreamException& error) {
    error.ReportError();
  }
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Error writing to the USB device.\nThe data could not be written."});
}

}  // namespace
