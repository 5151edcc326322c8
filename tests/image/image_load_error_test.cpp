#include "image/image_load_error.h"

#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "support/scripted_user_interface.h"

namespace {

TEST(ImageLoadErrorTest, MessagesNameTheFileAndWhere) {
  EXPECT_EQ(CImageLoadError::AtLine("fw.hex", 12, "bad").Message(), "fw.hex:12: bad");
  EXPECT_EQ(CImageLoadError::AtOffset("fw.seg", 0, "bad").Message(), "fw.seg: offset 0: bad");
  EXPECT_EQ(CImageLoadError::AtOffset("fw.seg", 5000000000ULL, "bad").Message(), "fw.seg: offset 5000000000: bad");
  EXPECT_EQ(CImageLoadError::ForFile("fw.bin", "bad").Message(), "fw.bin: bad");
  EXPECT_FALSE(CImageLoadError().IsSet());
  EXPECT_EQ(CImageLoadError().Message(), "");
}

TEST(ImageLoadErrorTest, TheRefusalIsOneErrorBoxInTheUserInterfaceLanguage) {
  CScriptedUserInterface ui;
  ShowImageRefusal(CImageLoadError::AtLine("fw.hex", 3, "bad"));
  SetUiLanguage(LANG_GERMAN);
  ShowImageRefusal(CImageLoadError::AtLine("fw.hex", 3, "bad"));
  SetUiLanguage(LANG_ENGLISH);
  ASSERT_EQ(ui.MessageTexts().size(), 2u);
  EXPECT_EQ(ui.MessageTexts()[0],
            "The firmware image was not sent to the device because it could not be read completely:\nfw.hex:3: bad");
  EXPECT_EQ(ui.MessageTexts()[1],
            "Das Firmware-Abbild wurde nicht an das Gerät gesendet, weil es nicht vollständig gelesen werden "
            "konnte:\nfw.hex:3: bad");
  EXPECT_EQ(ui.Record()[0].style, MB_OK | MB_ICONERROR);
}

TEST(ImageLoadErrorTest, EveryImageStringExistsInAllSixLanguages) {
  for (int id = 23100; id <= 23113; ++id) {
    for (int lang : HeldLanguages()) EXPECT_FALSE(LoadResStringIn(id, lang).empty()) << id << " in " << lang;
  }
}

}  // namespace
