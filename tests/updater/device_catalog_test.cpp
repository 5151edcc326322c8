#include "updater/device_catalog.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
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

// A pipe would hold the program in open() for ever, a device would be read without end: the
// catalog is refused at once, by name.
TEST_F(CatalogTest, ACatalogThatIsNoRegularFileIsRefusedAtOnce) {
  const std::string path = (m_folder / "tavrix-update.config").string();
  const std::string notAFile = "\nThis is not a regular file (a pipe, a device or a folder), so it is not read.";
  for (bool pipe : {true, false}) {
    std::filesystem::remove(path);
    if (pipe) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else {
      std::filesystem::create_symlink("/dev/zero", path);
    }
    m_ui.ClearRecord();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_catalog.OpenCatalog());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{path + notAFile});
  }
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

namespace {

constexpr const char* kEntries = R"(<Config><Devices>
  <Device Id="FULL" RTC="CUpdater2A1" USBPID="4660">
    <Name>Full</Name><Firmware><Version>0x10</Version><File>full.hex</File></Firmware></Device>
  <Device Id="APP" RTC="CUpdaterServo" USBPID="011064">
    <Name>App</Name><Firmware><Version>200</Version><File>sub\dir\app.hex</File></Firmware>
    <Application><Version>070</Version></Application></Device>
  <Device Id="NONAME" RTC="X"><Firmware><Version>1</Version><File>f</File></Firmware></Device>
  <Device Id="NOFW" RTC="X"><Name>No Firmware</Name></Device>
  <Device Id="NOVER" RTC="X"><Name>No Version</Name><Firmware><File>f</File></Firmware></Device>
  <Device Id="NOFILE" RTC="X"><Name>No File</Name><Firmware><Version>5</Version></Firmware></Device>
  <Device Id="APPNOVER" RTC="X"><Name>App Without Version</Name>
    <Firmware><Version>5</Version><File>f</File></Firmware><Application/></Device>
  <Device Id="BARE"><Name>Bare</Name><Firmware><Version></Version><File>b.bin</File></Firmware></Device>
  <Device Id="FULL" RTC="Second"><Name>Second Full</Name>
    <Firmware><Version>1</Version><File>x</File></Firmware></Device>
  <Device><Name>No Id</Name></Device>
  <Device Id="NAMELESS"/>
</Devices></Config>)";

class CatalogEntries : public CatalogTest {
 protected:
  void SetUp() override {
    CatalogTest::SetUp();
    WriteCatalog(kEntries);
    ASSERT_TRUE(m_catalog.OpenCatalog());
  }
};

TEST_F(CatalogEntries, ListsEveryDeviceInDocumentOrder) {
  std::vector<std::string> lines{"stale"};
  m_catalog.ListDevices(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"FULL\tFull", "APP\tApp", "NONAME\t", "NOFW\tNo Firmware",
                                             "NOVER\tNo Version", "NOFILE\tNo File",
                                             "APPNOVER\tApp Without Version", "BARE\tBare",
                                             "FULL\tSecond Full", "\tNo Id", "NAMELESS\t"}));
}

TEST_F(CatalogEntries, CompleteEntryFillsTheRecord) {
  ASSERT_TRUE(m_catalog.ReadDevice("FULL"));
  const DeviceRecord& r = m_catalog.Record();
  EXPECT_EQ(r.Id, "FULL");
  EXPECT_EQ(r.ClassName, "CUpdater2A1");  // the first of the two FULL entries
  EXPECT_EQ(r.Name, "Full");
  EXPECT_EQ(r.UsbPid, 4660);
  EXPECT_EQ(r.FirmwareVersion, 16);
  EXPECT_FALSE(r.HasApplication);
  EXPECT_EQ(r.ApplicationVersion, 0);
  EXPECT_EQ(r.FirmwarePath, (m_folder / "full.hex").string());
}

TEST_F(CatalogEntries, ApplicationEntry) {
  ASSERT_TRUE(m_catalog.ReadDevice("APP"));
  const DeviceRecord& r = m_catalog.Record();
  EXPECT_EQ(r.UsbPid, 4660);
  EXPECT_TRUE(r.HasApplication);
  EXPECT_EQ(r.ApplicationVersion, 56);  // 070 is octal
  EXPECT_EQ(r.FirmwarePath, (m_folder / "sub/dir/app.hex").string());
}

TEST_F(CatalogEntries, EntryWithoutApplicationClearsAnEarlierOne) {
  ASSERT_TRUE(m_catalog.ReadDevice("APP"));
  ASSERT_TRUE(m_catalog.ReadDevice("BARE"));
  const DeviceRecord& r = m_catalog.Record();
  EXPECT_FALSE(r.HasApplication);
  EXPECT_EQ(r.ApplicationVersion, 0);
  EXPECT_EQ(r.ClassName, "");  // no RTC: no updater class matches it later
  EXPECT_EQ(r.UsbPid, 0);
  EXPECT_EQ(r.FirmwareVersion, 0);  // empty Version
}

struct PartialCase {
  const char* id;
  // Fields already assigned when the entry turns out to be unusable.
  const char* name;
  std::uint16_t firmwareVersion;
  bool pathAssigned;
};

TEST_F(CatalogEntries, UnusableEntriesFailAfterAssigningWhatCameBefore) {
  const PartialCase cases[] = {{"NONAME", "Full", 16, true},   {"NOFW", "No Firmware", 16, true},
                               {"NOVER", "No Version", 16, true}, {"NOFILE", "No File", 5, true},
                               {"APPNOVER", "App Without Version", 5, true}, {"NAMELESS", "Full", 16, true}};
  for (const PartialCase& c : cases) {
    ASSERT_TRUE(m_catalog.ReadDevice("FULL"));
    EXPECT_FALSE(m_catalog.ReadDevice(c.id)) << c.id;
    const DeviceRecord& r = m_catalog.Record();
    EXPECT_EQ(r.Id, c.id);
    EXPECT_EQ(r.Name, c.name) << c.id;
    EXPECT_EQ(r.FirmwareVersion, c.firmwareVersion) << c.id;
  }
  // APPNOVER's firmware part is complete and was assigned, yet the entry cannot be selected.
  ASSERT_TRUE(m_catalog.ReadDevice("FULL"));
  EXPECT_FALSE(m_catalog.ReadDevice("APPNOVER"));
  EXPECT_EQ(m_catalog.Record().FirmwarePath, (m_folder / "f").string());
}

TEST_F(CatalogEntries, UnknownIdLeavesTheRecordUnchanged) {
  ASSERT_TRUE(m_catalog.ReadDevice("APP"));
  for (const char* id : {"full", "NOPE", "", "FULL ", "x' or '1'='1"}) {
    EXPECT_FALSE(m_catalog.ReadDevice(id)) << id;
    EXPECT_EQ(m_catalog.Record().Id, "APP");
  }
}

TEST_F(CatalogEntries, ClosedCatalogListsAndReadsNothing) {
  m_catalog.CloseCatalog();
  EXPECT_FALSE(m_catalog.IsOpen());
  std::vector<std::string> lines{"stale"};
  m_catalog.ListDevices(lines);
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(m_catalog.ReadDevice("FULL"));
}

TEST_F(CatalogTest, EmptyCatalogListsNothing) {
  WriteCatalog("<Config><Devices></Devices></Config>");
  ASSERT_TRUE(m_catalog.OpenCatalog());
  std::vector<std::string> lines;
  m_catalog.ListDevices(lines);
  EXPECT_TRUE(lines.empty());
}

TEST_F(CatalogTest, DevicesOutsideConfigDevicesAreNotListed) {
  WriteCatalog(R"(<Config><Device Id="A"><Name>a</Name></Device><Devices/><Other><Devices>
      <Device Id="B"/></Devices></Other></Config>)");
  ASSERT_TRUE(m_catalog.OpenCatalog());
  std::vector<std::string> lines;
  m_catalog.ListDevices(lines);
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(m_catalog.ReadDevice("A"));
}

TEST_F(CatalogTest, MalformedFileNamesTheLineAndWhatIsWrong) {
  const std::string path = (m_folder / "tavrix-update.config").string();
  const struct {
    const char* xml;
    int line;
    const char* reason;
  } cases[] = {
      {"", 1, "it has no root element."},
      {"not xml at all", 1, "it has no root element."},
      {"<Config>\n  <Devices>\n    <Device Id=\"A\">\n  </Devices>\n</Config>\n", 4,
       "an end tag does not match its start tag, or an element is not closed."},
      {"<Config>\n  <Devices>\n", 2, "an end tag does not match its start tag, or an element is not closed."},
      {"<Config>\n\n  <Device Id=QI-2A1/>\n</Config>", 3, "an attribute is broken (is its value in quotes?)."},
      {"<Config>\n  <!-- unterminated\n</Config>", 3,
       "a comment, CDATA section or declaration is broken, or a \"<\" begins no tag."},
  };
  for (const auto& c : cases) {
    WriteCatalog(c.xml);
    m_ui.ClearRecord();
    EXPECT_FALSE(m_catalog.OpenCatalog()) << c.xml;
    EXPECT_FALSE(m_catalog.IsOpen());
    ASSERT_EQ(m_ui.MessageTexts().size(), 1u) << c.xml;
    EXPECT_EQ(m_ui.MessageTexts()[0], path + ":" + std::to_string(c.line) +
                                          ": The catalog is not well-formed XML: " + c.reason)
        << c.xml;
  }
}

TEST_F(CatalogTest, ElementTextIsFoundHoweverTheFileIsIndented) {
  WriteCatalog(R"(<Config>
  <Devices>
    <Device Id="IND" RTC="CUpdater2A1" USBPID="0x7D2A">
      <Name>
        Quadrel Interface<!-- renamed in 2019 -->, variant 1
      </Name>
      <Firmware>
        <Version>
          312
        </Version>
        <File>
          firmware\quadrel-2a1.seg
        </File>
      </Firmware>
      <Application>
        <Version><![CDATA[ 1]]>05</Version>
      </Application>
    </Device>
  </Devices>
</Config>
)");
  ASSERT_TRUE(m_catalog.OpenCatalog());
  std::vector<std::string> lines;
  m_catalog.ListDevices(lines);
  EXPECT_EQ(lines, std::vector<std::string>{"IND\tQuadrel Interface, variant 1"});
  ASSERT_TRUE(m_catalog.ReadDevice("IND"));
  const DeviceRecord& r = m_catalog.Record();
  EXPECT_EQ(r.Name, "Quadrel Interface, variant 1");
  EXPECT_EQ(r.FirmwareVersion, 312);
  EXPECT_EQ(r.FirmwarePath, (m_folder / "firmware/quadrel-2a1.seg").string());
  EXPECT_EQ(r.ApplicationVersion, 105);
}

TEST_F(CatalogTest, ReopeningReplacesTheLoadedDocument) {
  WriteCatalog(R"(<Config><Devices><Device Id="OLD"><Name>o</Name></Device></Devices></Config>)");
  ASSERT_TRUE(m_catalog.OpenCatalog());
  WriteCatalog(R"(<Config><Devices><Device Id="NEW"><Name>n</Name></Device></Devices></Config>)");
  ASSERT_TRUE(m_catalog.OpenCatalog());
  std::vector<std::string> lines;
  m_catalog.ListDevices(lines);
  EXPECT_EQ(lines, std::vector<std::string>{"NEW\tn"});
}

TEST_F(CatalogTest, CatalogFollowsTheProgramsName) {
  SetModuleFileName((m_folder / "renamed.bin").string());
  EXPECT_EQ(DeviceCatalog::CatalogPath(), (m_folder / "renamed.config").string());
  SetModuleFileName((m_folder / "with.dots" / "prog").string());
  EXPECT_EQ(DeviceCatalog::CatalogPath(), (m_folder / "with.dots" / "prog.config").string());
}

TEST_F(CatalogTest, ProgramInTheRootFolder) {
  WriteCatalog(R"(<Config><Devices><Device Id="R"><Name>r</Name>
      <Firmware><Version>1</Version><File>fw\image.hex</File></Firmware></Device></Devices></Config>)");
  ASSERT_TRUE(m_catalog.OpenCatalog());
  SetModuleFileName("/tavrix-update");
  ASSERT_TRUE(m_catalog.ReadDevice("R"));
  EXPECT_EQ(m_catalog.Record().FirmwarePath, "/fw/image.hex");
}

// An installed program: bin/tavrix-update with its catalog in the installed data folder, and
// a catalog beside the program (a build tree, or one the administrator put there) preferred.
struct InstalledCase {
  const char* name;
  bool beside;
  bool installed;
  const char* expectedFolder;  // "bin", "data"
};

TEST_F(CatalogTest, InstalledProgramReadsTheCatalogOfTheDataFolder) {
  const InstalledCase cases[] = {{"only beside", true, false, "bin"},
                                 {"only installed", false, true, "data"},
                                 {"both", true, true, "bin"},
                                 {"neither", false, false, "bin"}};
  const std::filesystem::path bin = m_folder / "bin";
  const std::filesystem::path data = bin / DeviceCatalog::InstalledDataFolder();
  for (const InstalledCase& c : cases) {
    std::filesystem::remove_all(data);
    std::filesystem::remove_all(bin);
    std::filesystem::create_directories(data);
    SetModuleFileName((bin / "tavrix-update").string());
    auto write = [](const std::filesystem::path& folder, const char* name) {
      std::ofstream(folder / "tavrix-update.config")
          << "<Config><Devices><Device Id=\"" << name << "\"><Name>n</Name><Firmware><Version>1</Version>"
          << "<File>firmware\\" << name << ".seg</File></Firmware></Device></Devices></Config>";
    };
    if (c.beside) write(bin, "bin");
    if (c.installed) write(data, "data");
    const std::filesystem::path folder = std::string(c.expectedFolder) == "bin" ? bin : data;
    EXPECT_EQ(DeviceCatalog::CatalogPath(), (folder / "tavrix-update.config").string()) << c.name;
    EXPECT_EQ(DeviceCatalog::LocateCatalogFile("tavrix-update.config"), (folder / "tavrix-update.config").string())
        << c.name;
    if (!c.beside && !c.installed) continue;
    ASSERT_TRUE(m_catalog.OpenCatalog()) << c.name;
    ASSERT_TRUE(m_catalog.ReadDevice(c.expectedFolder)) << c.name;
    // The File texts are relative to the catalog's folder, wherever that is.
    EXPECT_EQ(m_catalog.Record().FirmwarePath, (folder / "firmware" / (std::string(c.expectedFolder) + ".seg")).string())
        << c.name;
  }
  EXPECT_TRUE(m_ui.MessageTexts().empty());
}

TEST(CatalogNumber, MoreLiterals) {
  const std::pair<const char*, std::uint16_t> cases[] = {
      {"0", 0},         {"00", 0},          {"0x", 0},       {"08", 0},          {"0xFFFF", 65535},
      {"65536", 0},     {"0x12345", 0x2345}, {"\t\n 17", 17}, {"1.23", 1},        {"0x1g", 1},
      {"99999999999999999999", 0xFFFF}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseCatalogNumber(text), value) << text;
}

}  // namespace
