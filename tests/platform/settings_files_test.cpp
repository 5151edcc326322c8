// The two settings files, read through QSettings: a path that is no regular file is left alone,
// so that a named pipe (QSettings would wait in open() for ever) or a device cannot hold the
// program; the settings then read as their defaults and nothing is written.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "net/device_manager_settings.h"
#include "platform/settings_store.h"
#include "support/temp_folder.h"

namespace {

class SettingsFilesTest : public ::testing::Test {
 protected:
  // Makes `path` a named pipe, or a link to /dev/zero.
  static void MakeSpecial(const std::string& path, bool pipe) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::remove(path);
    if (pipe) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else {
      std::filesystem::create_symlink("/dev/zero", path);
    }
  }
  static void ExpectQuick(std::chrono::steady_clock::time_point start) {
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  }
  CTempFolder m_folder;
};

TEST_F(SettingsFilesTest, TheProgramsSettingsFileThatIsNoRegularFileReadsAsDefaults) {
  const std::string path = m_folder / "Tavrix/Tavrix Update.ini";
  for (bool pipe : {true, false}) {
    MakeSpecial(path, pipe);
    const auto start = std::chrono::steady_clock::now();
    auto store = CreateIniSettingsStore("Tavrix", "Tavrix Update", m_folder.Path().string());
    EXPECT_EQ(store->GetInt("Settings", "LangID", 7), 7);
    EXPECT_EQ(store->GetString("Settings", "Address", "none"), "none");
    store->SetInt("Settings", "LangID", 1031);
    EXPECT_EQ(store->GetInt("Settings", "LangID", 7), 7) << "nothing is kept";
    store.reset();
    ExpectQuick(start);
    EXPECT_FALSE(std::filesystem::is_regular_file(path)) << "the path is left as it was";
  }
}

TEST_F(SettingsFilesTest, TheProgramsSettingsFileStillKeepsValues) {
  CreateIniSettingsStore("Tavrix", "Tavrix Update", m_folder.Path().string())->SetInt("Settings", "LangID", 1031);
  EXPECT_EQ(CreateIniSettingsStore("Tavrix", "Tavrix Update", m_folder.Path().string())->GetInt("Settings", "LangID", 7),
            1031);
}

TEST_F(SettingsFilesTest, ADeviceManagerFileThatIsNoRegularFileNamesNoDevice) {
  SetDeviceManagerDirectory(m_folder.Path().string());
  const std::string path = m_folder / "Device Manager.ini";
  for (bool pipe : {true, false}) {
    MakeSpecial(path, pipe);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadRemoteDeviceSettings("ZQ3351-9F").has_value());
    EXPECT_FALSE(IsRemoteDeviceEnabled("ZQ3351-9F"));
    EXPECT_FALSE(WriteRemoteDeviceAddress("ZQ3351-9F", "192.168.0.20", 8080));
    ExpectQuick(start);
  }
  std::filesystem::remove(path);
  std::ofstream(path) << "[ZQ3351-9F]\nAddress=192.168.0.20\nEnabled=1\n";
  EXPECT_TRUE(IsRemoteDeviceEnabled("ZQ3351-9F"));
  SetDeviceManagerDirectory({});
}

}  // namespace
