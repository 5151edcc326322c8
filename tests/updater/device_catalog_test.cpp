#include "updater/device_catalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/module_path.h"
#include "support/scripted_user_interface.h"

namespace {

// A program "tavrix-update" in a temporary folder, with its catalog beside it.
class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_folder = std::filesystem::temp_directory_path() /
               ("catalog-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_folder);
    SetModuleFileName((m_folder / "tavrix-update").string());
  }
  void TearDown() override {
    SetModuleFileName({});
    std::filesystem::remove_all(m_folder);
  }
  void WriteCatalog(const std::string& xml) {
    std::ofstream(m_folder / "tavrix-update.config") << xml;
  }
  std::filesystem::path m_folder;
  CScriptedUserInterface m_ui;
  DeviceCatalog m_catalog;
};

TEST_F(CatalogTest, MissingFileShowsPathAndFails) {
  EXPECT_FALSE(m_catalog.OpenCatalog());
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_EQ(m_ui.MessageTexts()[0], (m_folder / "tavrix-update.config").string() +
                                        "\nCannot find this file.\nPlease verify that the correct "
                                        "path and file name are given.");
}

TEST_F(CatalogTest, IdWithApostropheIsFoundLikeAnyOther) {
  WriteCatalog(R"(<Config><Devices>
      <Device Id="O'Neil" RTC="CUpdater2A1" USBPID="0x1234">
        <Name>Quote</Name><Firmware><Version>123</Version><File>fw\a.hex</File></Firmware>
      </Device></Devices></Config>)");
  ASSERT_TRUE(m_catalog.OpenCatalog());
  ASSERT_TRUE(m_catalog.ReadDevice("O'Neil"));
  EXPECT_EQ(m_catalog.Record().UsbPid, 0x1234);
  EXPECT_EQ(m_catalog.Record().FirmwarePath, (m_folder / "fw/a.hex").string());
}

TEST(CatalogNumber, ReadsLikeCUnsignedLiteral) {
  const std::pair<const char*, std::uint16_t> cases[] = {
      {"0x1234", 4660}, {"4660", 4660}, {"011064", 4660}, {"123", 123}, {"0123", 83},
      {"70000", 4464},  {"", 0},        {"  42abc", 42},  {"0X1f", 31}, {"-5", 0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseCatalogNumber(text), value) << text;
}

}  // namespace
