// End to end: several identical 2A interfaces on one emulated bus. `--device` updates the one
// named and leaves the others unopened; `--all` updates every one at the same time, each in a
// worker of its own, and reports each, also when one of them fails.

#include "devices/2a/catalog_2a.h"
#include "support/cli_end_to_end.h"

namespace {

class UpdateManyDevicesTest : public CliEndToEndTest {
 protected:
  UpdateManyDevicesTest() { m_catalog = Write2ATestCatalog(m_folder); }

  bool PlugMany(const std::vector<std::string>& devices) { return CliEndToEndTest::PlugMany("2a", devices); }
  bool Programmed(const std::string& serial) const {
    return Eventually([&] { return ReadWholeFile(RecordOf(serial)).ends_with("\nend complete\n"); });
  }
};

TEST_F(UpdateManyDevicesTest, DeviceUpdatesOnlyTheNamedOneAndOpensNoOther) {
  ASSERT_TRUE(PlugMany({"A1:variant=3,firmware=105", "A2:variant=3,firmware=105", "A3:variant=3,firmware=105"}));
  Run run = Cli("update QI-2A3 --device A2");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, Text(37))) << run.output;
  EXPECT_TRUE(Programmed("A2"));
  for (const char* other : {"A1", "A3"}) {
    EXPECT_EQ(ReadWholeFile(RecordOf(other)), "") << other;
    EXPECT_TRUE(TranscriptOf(other).empty()) << other << " was opened";
  }

  Run absent = Cli("update QI-2A3 --device B9");
  EXPECT_EQ(absent.status, 3) << absent.output;
  EXPECT_TRUE(Shows(absent, "no device with the id 'B9' is attached")) << absent.output;
}

TEST_F(UpdateManyDevicesTest, WithoutDeviceTheFirstIsTakenAndSaidSo) {
  ASSERT_TRUE(PlugMany({"A1:variant=3,firmware=105", "A2:variant=3,firmware=105"}));
  Run run = Cli("update QI-2A3");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Shows(run, "2 devices of this type are attached; this one is A1.")) << run.output;
  EXPECT_TRUE(Programmed("A1"));
  EXPECT_EQ(ReadWholeFile(RecordOf("A2")), "");
}

TEST_F(UpdateManyDevicesTest, AllUpdatesEveryDeviceThatComesBackAsItself) {
  // The 2A1 starts again after its download; all three come back at the same time.
  ASSERT_TRUE(PlugMany({"A1:variant=1,firmware=105", "A2:variant=1,firmware=105", "A3:variant=1,firmware=105"}));
  Run run = Cli("update QI-2A1 --all");
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* serial : {"A1", "A2", "A3"}) {
    EXPECT_TRUE(Programmed(serial)) << serial;
    EXPECT_TRUE(Shows(run, std::string(serial) + " ")) << run.output;
    // Each worker starts its own device again, and no other.
    std::string transcript = TranscriptOf(serial);
    std::size_t ejects = 0;
    for (auto at = transcript.find(" eject"); at != std::string::npos; at = transcript.find(" eject", at + 1)) ++ejects;
    EXPECT_EQ(ejects, 1u) << serial;
  }
  EXPECT_EQ(TimesShown(run, " 1.05 -> 3.12 "), 3u) << run.output;
  EXPECT_EQ(TimesShown(run, " programmed "), 3u) << run.output;

  Run again = Cli("update QI-2A1 --all");
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(TimesShown(again, " up to date "), 3u) << again.output;
}

TEST_F(UpdateManyDevicesTest, AllGoesOnWhenOneDeviceFailsAndNamesIt) {
  ASSERT_TRUE(PlugMany({"A1:variant=3,firmware=105", "A2:variant=3,firmware=105,refuse_ack=2",
                        "A3:variant=3,firmware=105"}));
  Run run = Cli("update QI-2A3 --all");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_TRUE(Programmed("A1"));
  EXPECT_TRUE(Programmed("A3"));
  EXPECT_FALSE(ReadWholeFile(RecordOf("A2")).ends_with("\nend complete\n"));
  EXPECT_TRUE(Shows(run, "A2               1.05 -> -      failed")) << run.output;
  EXPECT_TRUE(Shows(run, "A2: " + Text(20016) + "\n")) << "the cause, on one line: " << run.output;
  EXPECT_EQ(TimesShown(run, " programmed "), 2u) << run.output;
}

// Ctrl+C reaches the whole process group. The workers programming their devices go on; the
// program waits for them instead of leaving them to die on a closed pipe half-way. (A job the
// shell starts in the background ignores SIGINT, and the tests ignore SIGPIPE; env gives both
// back their defaults.) The ATMU
// device writes a line for every page, so a worker that lost its reader would end at once.
TEST_F(UpdateManyDevicesTest, CtrlCDuringAllLeavesNoDeviceHalfWritten) {
  WriteCatalog({{"ZA0815-2T", "CUpdaterATMU", 0xA7B0, "atmu.hex", 312}});
  ASSERT_TRUE(CliEndToEndTest::PlugMany("atmu", {"T1:firmware=105", "T2:firmware=105"}, "1"));
  const std::string out = m_folder / "out";
  std::string command = "TAVRIX_USB_BUS='" + Bus() + "' setsid env --default-signal=INT,PIPE " TAVRIX_BIN_DIR
                        "/tavrix-update-cli --catalog '" + m_catalog + "' --yes update ZA0815-2T --all > '" + out +
                        "' 2>&1 & echo $!";
  int status = -1;
  std::string group = RunProgram(command, status);
  group.erase(group.find_last_not_of('\n') + 1);
  ASSERT_TRUE(Eventually([&] {
    std::string text = ReadWholeFile(out);
    return text.find("T1: Writing page") != std::string::npos && text.find("T2: Writing page") != std::string::npos;
  })) << ReadWholeFile(out);
  RunProgram("/bin/kill -s INT -- -" + group, status);
  ASSERT_EQ(status, 0);
  for (const char* serial : {"T1", "T2"}) EXPECT_TRUE(Programmed(serial)) << serial << "\n" << ReadWholeFile(out);
  EXPECT_TRUE(Eventually([&] { return TimesShown({ReadWholeFile(out)}, "1.05 -> 3.12   programmed") == 2; }))
      << ReadWholeFile(out);
}

TEST_F(UpdateManyDevicesTest, AllWithNoDeviceOfTheTypeSaysSo) {
  Run run = Cli("update QI-2A3 --all");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_TRUE(Shows(run, "no device of QI-2A3 is attached")) << run.output;
}

}  // namespace
