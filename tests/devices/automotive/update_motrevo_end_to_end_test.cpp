// End to end: tavrix-update-cli updates the simulated trainer served by tavrix-devsim on an
// emulated bus, and fails as it should when the trainer refuses a line, does not come back
// after its restart, or is another device.

#include "support/cli_end_to_end.h"

namespace {

const CEndToEndEntry kMotrevo{"AT-MOTREVO", "CUpdaterMotrevo", 0x4C17, "motrevo.srec", 312, "trainer"};

class UpdateMotrevoEndToEndTest : public CliEndToEndTest {
 protected:
  UpdateMotrevoEndToEndTest() { WriteCatalog({kMotrevo}); }

  std::string FirmwarePath() const { return CliEndToEndTest::FirmwarePath(kMotrevo); }
  bool Plug(const std::string& options) { return CliEndToEndTest::Plug("motrevo", options); }
  Run Update() { return CliEndToEndTest::Update(kMotrevo.Id); }

  // The record of a whole download of `text`: every line without its line end.
  static std::string RecordOf(const std::string& text) {
    std::string record = "download lines\n";
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find("\r\n", at);
      record += "line " + text.substr(at, end - at) + "\n";
      at = end + 2;
    }
    return record + "end complete\n";
  }
};

TEST_F(UpdateMotrevoEndToEndTest, ProgramsTheTextThenFindsTheTrainerUpToDate) {
  ASSERT_TRUE(Plug("firmware=305"));
  Run first = Update();
  EXPECT_EQ(first.status, 0) << first.output;
  EXPECT_NE(first.output.find("firmware 3.05 on the device, 3.12 in the catalog"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find(Text(37)), std::string::npos) << first.output;
  EXPECT_EQ(EndedRecord(), RecordOf(ReadWholeFile(FirmwarePath())));

  Run second = Update();
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_NE(second.output.find(FormatText(Text(40).c_str(), 3, 12)), std::string::npos) << second.output;
}

TEST_F(UpdateMotrevoEndToEndTest, FailuresEndAsFailedOrNotConnected) {
  struct Case {
    const char* name;
    std::string options;
    int status;
    std::vector<std::string> shown;
    std::string record;  // the beginning of what the trainer kept
  };
  const std::string wrongDevice = FormatMessage(Text(20007), {"ZR6618-7D Quadrel 307", "ZRxxxx-xx.AAA.BBB.CCC"});
  const Case cases[] = {
      {"a line refused with F1", "refuse_ack=3", 1, {Text(38)}, "download lines\nline S0"},
      {"no loader after 32", "no_loader", 1, {Text(20016), Text(38)}, ""},
      {"another device", "identity=\"ZR6618-7D Quadrel 307\"", 3, {wrongDevice}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Plug(c.options));
    Run run = Update();
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.shown) EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(Text(37)), std::string::npos) << run.output;
    if (c.record.empty()) {
      EXPECT_EQ(Record(), "");
    } else {
      std::string record = EndedRecord();
      EXPECT_TRUE(record.starts_with(c.record)) << record;
      EXPECT_TRUE(record.ends_with("\nend incomplete\n")) << record;
      EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 5) << "three lines, the third refused";
    }
  }
}

// "Succeeded" only for a text the trainer got whole: an empty text, or one with only line ends,
// would leave the trainer in its loader; a pipe or a device as the file must not hold the
// program. Each fails at once, and the trainer is never told to start its loader.
TEST_F(UpdateMotrevoEndToEndTest, FirmwareWithNothingToSendOrNoRegularFileIsNeverSent) {
  const std::vector<CBadFirmware> cases =
      WithSpecialFirmwareFiles({BadFirmwareText("empty", "", ": The file holds no data to send."),
                                BadFirmwareText("only line ends", "\r\n\r\n", ": The file holds no data to send.")});
  ExpectNeverDownloaded(kMotrevo.Id, FirmwarePath(), [this] { return Plug(""); }, cases);
}

}  // namespace
