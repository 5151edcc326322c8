// Signals while a device is programmed, against simulated devices with their real waits: the
// first Ctrl+C only warns, a second one or SIGTERM stops at a safe point with 130 or 143, and
// the device's record shows what it got. Outside programming Ctrl+C ends the run at once.

#include "support/cli_end_to_end.h"

namespace {

const CEndToEndEntry kATMU{"ZA0815-2T", "CUpdaterATMU", 0xA7B0, "atmu.hex", 312, "ATMU device"};

class InterruptTest : public CliEndToEndTest {
 protected:
  InterruptTest() { WriteCatalog({kATMU}); }

  // Starts the update of the ATMU device and waits until it writes pages.
  std::string StartProgramming() {
    std::filesystem::remove(OutPath());
    std::string group = StartCli("--yes update ZA0815-2T", OutPath());
    EXPECT_TRUE(Shown("Writing page")) << Out();
    return group;
  }
  std::string DeviceEnd() const {
    std::string record = Record();
    return record.substr(record.rfind("\nend ") + 1);
  }
};

TEST_F(InterruptTest, OneCtrlCWarnsAndProgrammingGoesOn) {
  ASSERT_TRUE(Plug("atmu", "firmware=105"));
  Signal(StartProgramming(), "INT");
  ASSERT_TRUE(Shown("exit ")) << Out();
  EXPECT_TRUE(Shown("exit 0")) << Out();
  EXPECT_TRUE(Shown(Text(23761))) << Out();
  EXPECT_TRUE(Shown(Text(37))) << Out();
  EXPECT_EQ(DeviceEnd(), "end complete\n");
}

TEST_F(InterruptTest, ASecondCtrlCOrSigtermStopsAtASafePoint) {
  const struct {
    std::vector<std::string> signals;
    const char* exit;
  } cases[] = {{{"INT", "INT"}, "exit 130"}, {{"TERM"}, "exit 143"}, {{"HUP"}, "exit 143"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exit + (" " + c.signals[0]));
    ASSERT_TRUE(Plug("atmu", "firmware=105"));
    StopProgramming(StartProgramming(), c.signals, c.exit);
    EXPECT_TRUE(Eventually([this] { return Record().find("\nend ") != std::string::npos; }));
    EXPECT_EQ(DeviceEnd(), "end incomplete\n") << "the device knows its download is not whole";
  }
}

TEST_F(InterruptTest, CtrlCOutsideProgrammingEndsAtOnce) {
  // No device: the connect loop tries again and again.
  std::string group = StartCli("--on-failure retry --retries 100000 update ZA0815-2T", OutPath());
  ASSERT_TRUE(Shown("ZA0815-2T")) << Out();
  Signal(group, "INT");
  EXPECT_TRUE(Shown("exit 130")) << Out();
}

}  // namespace
