// The project list as the servo download reads it: key texts found in the bytes, values
// between the two skipped characters and the next double quote, and the refusals that keep a
// broken list from reaching the drive.

#include "devices/servo/project_list.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <utility>

#include <pugixml.hpp>

#include "sim/firmware_version_tag.h"
#include "support/temp_folder.h"

namespace {

// A list the way the drive tools export it, with `files` as its File elements.
std::string ExportList(const std::string& number, const std::vector<std::string>& files) {
  std::string xml = "<?xml version=\"1.0\"?>\n<Project Version Firmware=\"2.04\" MemoryModule=\"MM-PLUS\" "
                    "SafetyModule=\"SM-STO\">\n<Files NumberOfFiles=\"" + number + "\">\n";
  for (const std::string& file : files) xml += "  <File Name=\"" + file + "\" Size=\"1\"/>\n";
  return xml + "</Files>\n</Project>\n";
}

std::vector<std::string> Names(std::size_t count) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i) names.push_back("F" + std::to_string(i) + ".DAT");
  return names;
}

TEST(ProjectList, ReadsTheKeysOfAnExportedList) {
  CProjectList list;
  ASSERT_TRUE(list.Parse(ExportList("3", {"DEVCONF.DAT", "APP.BIN", "PARAM.DAT"}))) << list.Refusal();
  EXPECT_EQ(list.FirmwareVersion(), "2.04");
  EXPECT_EQ(list.MemoryModule(), "MM-PLUS");
  EXPECT_EQ(list.SafetyModule(), "SM-STO");
  EXPECT_EQ(list.NumberOfFiles(), 3);
  EXPECT_EQ(list.FileNames(), (std::vector<std::string>{"DEVCONF.DAT", "APP.BIN", "PARAM.DAT"}));
  EXPECT_TRUE(CProjectList::IsConfiguration("X_DEVCONF.DAT"));
  EXPECT_FALSE(CProjectList::IsConfiguration("devconf.dat")) << "the configuration is named in upper case";
}

TEST(ProjectList, TakesWhatTheKeyRulesGiveAndRefusesWhatWouldNotFit) {
  struct Case {
    const char* name;
    std::string bytes;
    bool taken;
    std::string memoryModule;  // what was read, when taken
    int numberOfFiles;
    std::vector<std::string> fileNames;
    std::string refusal;  // part of the refusal, when refused
  };
  const std::string longValue(254, 'v');
  const std::string oneFile = " NumberOfFiles=\"1\" File Name=\"A\"";
  std::string randomBytes;
  for (int i = 0; i < 4096; ++i) randomBytes += static_cast<char>((i * 7919 + 13) % 251);
  const Case cases[] = {
      {"a key on the first byte does not count",
       "File Name=\"A.DAT\" NumberOfFiles=\"1\" File Name=\"B.DAT\"", true, "", 1, {"B.DAT"}, ""},
      {"a key right after the first byte counts", " MemoryModule=\"M\"" + oneFile, true, "M", 1, {"A"}, ""},
      {"keys are case-sensitive", " memorymodule=\"M\" file name=\"B\"" + oneFile, true, "", 1, {"A"}, ""},
      {"any two characters are skipped", " MemoryModule:#M2\" NumberOfFiles:#1\" File Name=\"A\"", true, "M2", 1, {"A"},
       ""},
      {"fewer files to send than listed", ExportList("1", {"A.DAT", "B.DAT"}), true, "MM-PLUS", 1,
       {"A.DAT", "B.DAT"}, ""},
      {"a value of 254 characters", " MemoryModule=\"" + longValue + "\"" + oneFile, true, longValue, 1, {"A"}, ""},
      {"thirty files", ExportList("30", Names(30)), true, "MM-PLUS", 30, Names(30), ""},
      {"a value of 255 characters", " File Name=\"" + longValue + "w\"", false, "", 0, {},
       "the value of \"File Name\" is longer than 254 characters"},
      {"a value without its closing quote", " SafetyModule=\"SM", false, "", 0, {},
       "the value of \"SafetyModule\" has no closing double quote"},
      {"a key at the very end", " SafetyModule", false, "", 0, {}, "no closing double quote"},
      {"thirty-one files", ExportList("31", Names(31)), false, "", 0, {}, "names more than 30 files"},
      {"more files to send than listed", ExportList("3", {"A.DAT", "B.DAT"}), false, "", 0, {},
       "gives NumberOfFiles=\"3\" but names 2 files"},
      {"a negative number of files", ExportList("-1", {"A.DAT"}), false, "", 0, {}, "NumberOfFiles=\"-1\""},
      {"a number beyond int", ExportList("99999999999", {"A.DAT"}), false, "", 0, {}, "but names 1 files"},
      // What is no list, or names nothing to download, would end in "done" with the drive's
      // application as it was.
      {"an empty file", "", false, "", 0, {}, "is no project list: it has no NumberOfFiles value"},
      {"no keys at all", "<Project/>", false, "", 0, {}, "is no project list"},
      {"random bytes", randomBytes, false, "", 0, {}, "is no project list"},
      {"one long line", std::string(3'000'000, 'x'), false, "", 0, {}, "is no project list"},
      {"names without a count", " File Name=\"A\"", false, "", 0, {}, "is no project list"},
      {"no file to send", ExportList("0", {"A.DAT"}), false, "", 0, {}, "names no file to download"},
      {"a count without names", ExportList("0", {}), false, "", 0, {}, "names no file to download"},
      {"a count that is no number", ExportList("many", {"A.DAT"}), false, "", 0, {}, "names no file to download"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CProjectList list;
    ASSERT_EQ(list.Parse(c.bytes), c.taken) << list.Refusal();
    if (c.taken) {
      EXPECT_EQ(list.MemoryModule(), c.memoryModule);
      EXPECT_EQ(list.NumberOfFiles(), c.numberOfFiles);
      EXPECT_EQ(list.FileNames(), c.fileNames);
    } else {
      EXPECT_NE(list.Refusal().find(c.refusal), std::string::npos) << list.Refusal();
      EXPECT_EQ(list.Refusal().rfind("ProjectExportList.xml", 0), 0u) << list.Refusal();
    }
  }
}

TEST(ProjectList, FilesOnThePcAreCheckedAndAddedUp) {
  CTempFolder folder;
  const std::string project = folder.Path().string();
  folder.Write("DEVCONF.DAT", std::string(100, 'c'));
  folder.Write("APP.BIN", std::string(2000, 'a'));
  folder.Write("sub/PARAM.DAT", std::string(48, 'p'));
  std::filesystem::create_directory(folder.Path() / "DIR.DAT");
  ASSERT_EQ(::mkfifo((folder / "PIPE.DAT").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", folder.Path() / "ZERO.DAT");

  struct Case {
    const char* name;
    std::vector<std::string> files;
    std::uint64_t required;    // when taken
    std::string missing;       // the file named in the refusal, when refused
  };
  const Case cases[] = {
      {"every file there", {"DEVCONF.DAT", "APP.BIN"}, 2100, ""},
      {"a name with a backslash names a sub-folder", {"APP.BIN", "sub\\PARAM.DAT"}, 2048, ""},
      {"a listed file missing", {"DEVCONF.DAT", "GONE.BIN", "APP.BIN"}, 0, "/GONE.BIN"},
      {"a folder is no file", {"DIR.DAT"}, 0, "/DIR.DAT"},
      {"a pipe is no file", {"PIPE.DAT"}, 0, "/PIPE.DAT"},
      {"a device is no file", {"ZERO.DAT"}, 0, "/ZERO.DAT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CProjectList list;
    ASSERT_TRUE(list.Parse(ExportList(std::to_string(c.files.size()), c.files)));
    if (c.missing.empty()) {
      ASSERT_TRUE(list.CheckFiles(project)) << list.Refusal();
      EXPECT_EQ(list.RequiredBytes(), c.required);
    } else {
      ASSERT_FALSE(list.CheckFiles(project));
      EXPECT_EQ(list.Refusal(), "The project file '" + project + c.missing + "' named in ProjectExportList.xml is missing.");
    }
  }

  // A configuration listed under another name is still sent from DEVCONF.DAT, which must be there.
  std::filesystem::remove(folder.Path() / "DEVCONF.DAT");
  folder.Write("X_DEVCONF.DAT", "x");
  CProjectList renamed;
  ASSERT_TRUE(renamed.Parse(ExportList("1", {"X_DEVCONF.DAT"})));
  EXPECT_FALSE(renamed.CheckFiles(project));
  EXPECT_NE(renamed.Refusal().find(project + "/DEVCONF.DAT"), std::string::npos) << renamed.Refusal();
}

// A listed name stays inside the project folder, whichever separator it is written with.
TEST(ProjectList, ANameThatLeavesTheProjectFolderIsRefused) {
  CTempFolder folder;
  folder.Write("APP.BIN", "a");
  for (const char* name : {"..\\secret.bin", "../secret.bin", "sub\\..\\..\\secret.bin", "/etc/passwd"}) {
    SCOPED_TRACE(name);
    CProjectList list;
    ASSERT_TRUE(list.Parse(ExportList("2", {"APP.BIN", name})));
    EXPECT_FALSE(list.CheckFiles(folder.Path().string()));
    EXPECT_EQ(list.Refusal(), std::string("The project file name '") + name +
                                  "' in ProjectExportList.xml leaves the project folder.");
  }
  EXPECT_FALSE(CProjectList::LeavesFolder("sub\\..x\\APP.BIN"));
}

TEST(ProjectList, LoadsTheListFromTheProjectFolder) {
  CTempFolder folder;
  CProjectList list;
  EXPECT_FALSE(list.Load(folder.Path().string()));
  EXPECT_EQ(list.Refusal(), "ProjectExportList.xml could not be opened.");
  folder.Write("ProjectExportList.xml", ExportList("1", {"A.DAT"}));
  ASSERT_TRUE(list.Load(folder.Path().string())) << list.Refusal();
  EXPECT_EQ(list.FileNames(), std::vector<std::string>{"A.DAT"});
}

// A pipe would hold the preparation in open(), a device would be read without end, a file
// far larger than any list would be read whole: each is refused at once, by name.
TEST(ProjectList, AListThatIsNoRegularFileOrTooLargeIsRefusedAtOnce) {
  CTempFolder folder;
  const std::string pipeFolder = (folder / "pipe");
  const std::string zeroFolder = (folder / "zero");
  const std::string largeFolder = (folder / "large");
  std::filesystem::create_directories(pipeFolder);
  std::filesystem::create_directories(zeroFolder);
  ASSERT_EQ(::mkfifo((pipeFolder + "/ProjectExportList.xml").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", zeroFolder + "/ProjectExportList.xml");
  folder.Write("large/ProjectExportList.xml", ExportList("1", {"A.DAT"}));
  std::filesystem::resize_file(largeFolder + "/ProjectExportList.xml", CProjectList::kMaxFileBytes + 1);
  const std::pair<std::string, std::string> cases[] = {
      {pipeFolder, "This is not a regular file"},
      {zeroFolder, "This is not a regular file"},
      {largeFolder, "The file is larger than 4194304 bytes"},
  };
  for (const auto& [project, reason] : cases) {
    CProjectList list;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(list.Load(project));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << project;
    EXPECT_EQ(list.Refusal().rfind(project + "/ProjectExportList.xml\n" + reason, 0), 0u) << "[" << list.Refusal() << "]";
  }
}

// The demo project of drive 1 is one the download takes, and its application carries the
// version the demo catalog names, so the demo finds the trainer up to date after a download.
TEST(ProjectList, TheDemoProjectFitsTheDemoCatalog) {
  const std::string demo = TAVRIX_SOURCE_DIR "/resources/demo";
  CProjectList list;
  ASSERT_TRUE(list.Load(demo + "/Drive001")) << list.Refusal();
  ASSERT_TRUE(list.CheckFiles(demo + "/Drive001")) << list.Refusal();
  ASSERT_EQ(list.NumberOfFiles(), 3);

  pugi::xml_document catalog;
  ASSERT_TRUE(catalog.load_file((demo + "/tavrix-update.config").c_str()));
  const pugi::xml_node entry = catalog.select_node("/Config/Devices/Device[@RTC='CUpdaterServo']").node();
  const unsigned application = entry.child("Application").child("Version").text().as_uint();
  ASSERT_NE(application, 0u);
  std::optional<std::uint16_t> tagged;
  for (const std::string& name : list.FileNames()) {
    const std::string bytes = ReadWholeFile(CProjectList::LocalPath(demo + "/Drive001", name));
    if (!tagged) tagged = FindFirmwareVersionTag(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }
  EXPECT_EQ(tagged, application);
}

}  // namespace
