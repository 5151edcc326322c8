#include "devices/servo/kinetra.h"

#include "devices/downloads/download_fixture.h"
#include "devices/servo/servo_usb.h"
#include "net/device_manager_settings.h"
#include "net/stream_socket.h"
#include "support/temp_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The control unit over a memory transport; `keepWaiting` lets the settling operations poll.
class CMemoryKinetra : public CMemoryInterface<CKinetra> {
 public:
  explicit CMemoryKinetra(bool keepWaiting = false) { m_keepWaiting = keepWaiting; }
  bool IdentifyAs(const std::string& identity) {
    memory->ReplyToNextWrite(identity + '\0');
    return Identify();
  }
  using CKinetra::CreateTransport;
};

Bytes Word(int value) {
  const auto bits = static_cast<std::uint16_t>(value);
  return {static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

using KinetraTest = DownloadTest;

TEST_F(KinetraTest, IdentifyWaitsThenAcceptsTheThreeModelCodesWithoutAMessage) {
  struct Case {
    std::string identity;
    bool accepted;
    std::uint16_t version;
  };
  const Case cases[] = {
      {"ZQ3351-9F 123", true, 123}, {"ZP3351-9F 120", true, 120}, {"ZP2290-8E 0098", true, 98},
      {"ZQ3351-9F", true, 0},       {"ZQ3351-9FX45", true, 45},    {"zq3351-9f 123", false, 123},
      {"ZQ3351-9", false, 0},       {"ZT5503-1D 214", false, 214}, {"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity);
    m_clock.ClearWaits();
    CMemoryKinetra unit;
    EXPECT_EQ(unit.IdentifyAs(c.identity), c.accepted);
    EXPECT_EQ(unit.memory->written, Bytes{0x91});
    EXPECT_EQ(unit.Identity(), c.identity);
    EXPECT_EQ(unit.GetFirmwareVersion(), c.version);
    EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{500});
  }
  EXPECT_TRUE(m_ui.MessageTexts().empty());
}

// Another device on the port goes to the connect loop's question; the memory transport's
// answer is "simulation", which the trainer offers.
class CWrongUnit : public CKinetra {
 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override {
    auto stream = std::make_unique<CMemoryStream>();
    stream->ReplyToNextWrite(std::string("ZT5503-1D 214") + '\0');
    return stream;
  }
};

TEST_F(KinetraTest, AnotherDeviceLeadsToTheConnectLoopsQuestion) {
  CWrongUnit unit;
  EXPECT_EQ(unit.OpenAndIdentify(), CStreamDevice::kSimulation);
  EXPECT_TRUE(m_ui.MessageTexts().empty());
  EXPECT_EQ(unit.GetApplicationVersion(), 0);
  EXPECT_EQ(unit.GetDriveNumber(), 0);
  EXPECT_TRUE(unit.CheckSwitchState(false));
}

TEST_F(KinetraTest, ApplicationVersionIsAskedForFromFirmware120On) {
  struct Case {
    std::string identity;
    Bytes written;
    std::uint16_t version;
  };
  const Case cases[] = {
      {"ZQ3351-9F 119", {}, 0},
      {"ZQ3351-9F 120", {0xB2}, 0x0203},
      {"ZP2290-8E 215", {0xB2}, 0x0203},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity);
    CMemoryKinetra unit;
    ASSERT_TRUE(unit.IdentifyAs(c.identity));
    unit.memory->written.clear();
    unit.memory->Answer({0x02, 0x03});
    EXPECT_EQ(unit.GetApplicationVersion(), c.version);
    EXPECT_EQ(unit.memory->written, c.written);
  }
  CMemoryKinetra unidentified;
  EXPECT_EQ(unidentified.GetApplicationVersion(), 0);
  EXPECT_TRUE(unidentified.memory->written.empty());
}

TEST_F(KinetraTest, DriveNumbersOneAndTwoCountAsFiveAndSixWhenCode3028Reads60) {
  struct Case {
    std::uint8_t number;
    std::uint32_t code3028;
    std::uint8_t status;
    std::uint8_t result;
  };
  const Case cases[] = {
      {1, 60, '!', 5}, {2, 60, '!', 6}, {1, 50, '!', 1}, {3, 60, '!', 3}, {6, 60, '!', 6},
      {1, 60, '?', 1},  // the drive did not deliver the value
      {0, 60, '!', 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.number} << " with " << c.code3028 << " " << c.status);
    CMemoryKinetra unit;
    unit.memory->Answer({c.number, 0, 0, 0, static_cast<std::uint8_t>(c.code3028), c.status});
    EXPECT_EQ(unit.GetDriveNumber(), c.result);
    std::vector<Bytes> packets = {{0xC0}};
    if (c.number != 0) packets.push_back({0xA4, 0x0B, 0xD4, 0x00});  // 3028, subindex 0, one packet
    EXPECT_EQ(unit.memory->packets, packets);
  }
}

TEST_F(KinetraTest, UnitCodeValueIsReadWithItsStatus) {
  CMemoryKinetra unit;
  unit.memory->Answer({0x12, 0x34, 0x56, 0x78, '!', 0x00, 0x00, 0x00, 0x09, '?'});
  std::uint32_t value = 0;
  EXPECT_TRUE(unit.ReadUnitCodeValue(150, 2, value));
  EXPECT_EQ(value, 0x12345678u);
  EXPECT_FALSE(unit.ReadUnitCodeValue(0x1234, 0, value));
  EXPECT_EQ(unit.memory->packets, (std::vector<Bytes>{{0xA4, 0x00, 0x96, 0x02}, {0xA4, 0x12, 0x34, 0x00}}));

  CKinetra closed;  // no transport: nothing asked, the value as it was
  value = 7;
  EXPECT_TRUE(closed.ReadUnitCodeValue(150, 0, value));
  EXPECT_EQ(value, 7u);
}

TEST_F(KinetraTest, SwitchPromptAsksUntilTheUnitIsAtOffOrThePersonCancels) {
  struct Case {
    const char* name;
    bool run;
    std::string answers;        // the unit's answers to 0x90
    std::vector<int> pressed;   // the person's buttons
    bool result;
    std::size_t prompts;
  };
  const Case cases[] = {
      {"already off", false, "!", {}, true, 0},
      {"turned off after two prompts", false, "?\?!", {IDOK, IDOK}, true, 2},
      {"cancelled", false, "??", {IDOK, IDCANCEL}, false, 2},
      {"already at run", true, "?", {}, true, 0},
      {"turned to run", true, "!?", {IDOK}, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptedUserInterface ui;
    for (int button : c.pressed) ui.QueueMessageBoxAnswer(button);
    CMemoryKinetra unit;
    unit.memory->AnswerText(c.answers);
    EXPECT_EQ(unit.CheckSwitchState(c.run), c.result);
    EXPECT_EQ(unit.memory->written, Bytes(c.answers.size(), 0x90));
    const std::string prompt = LoadResString(c.run ? 20105 : 20106);
    EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>(c.prompts, prompt));
    for (const auto& shown : ui.Record()) EXPECT_EQ(shown.style, MB_OKCANCEL);
  }
  EXPECT_EQ(LoadResString(20106), "Switch the servo-drive control unit to \"OFF\".");
  EXPECT_EQ(LoadResString(20105), "Switch the servo-drive control unit to \"RUN\".");
}

TEST_F(KinetraTest, SwitchPromptShowsATransferErrorAndGivesUp) {
  CMemoryKinetra unit;  // answers nothing: the read fails
  EXPECT_FALSE(unit.CheckSwitchState(false));
  ASSERT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_EQ(m_ui.MessageTexts()[0], LoadResString(20009));
}

TEST_F(KinetraTest, CloseDeviceSendsA2OnlyOnAnOpenTransport) {
  CMemoryKinetra unit;
  unit.CloseDevice();
  EXPECT_EQ(unit.memory->packets, (std::vector<Bytes>{{0xA2}}));
  unit.memory->Close();
  unit.CloseDevice();
  EXPECT_EQ(unit.memory->packets.size(), 1u);
}

TEST_F(KinetraTest, ChannelsAreSignedWordsAndChannelTwoIsInHundredths) {
  CMemoryKinetra unit;
  unit.memory->Answer(Word(-1234));
  unit.memory->Answer(Word(-250));
  EXPECT_EQ(unit.GetChannel1(), -1234.0);
  EXPECT_EQ(unit.GetChannel2(), -2.5);
  unit.SetChannel1(-1.9);    // truncated toward zero
  unit.SetChannel2(12.345);  // 1234 hundredths
  unit.SetChannel1(70000);   // its low 16 bits
  EXPECT_EQ(unit.memory->written,
            (Bytes{0x97, 0x98, 0x95, 0xFF, 0xFF, 0x96, 0x04, 0xD2, 0x95, 0x11, 0x70}));
}

TEST_F(KinetraTest, ChannelOneWaitsForItsRampAndPollsOnlyWhenToldTo) {
  struct Case {
    const char* name;
    bool keepWaiting;
    std::vector<int> readings;  // after the set value
    std::vector<std::uint32_t> waits;
  };
  const Case cases[] = {
      {"once", false, {1000, 1000}, {1500}},  // 3000 from the value at 4000 per second, twice over
      {"settled on the first look", true, {1000, 3900}, {1500}},
      {"settles later", true, {1000, 2000, 3000, 3850}, {1500, 1500, 1500}},
      {"never settles", true, std::vector<int>(12, 0), std::vector<std::uint32_t>(11, 2000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_clock.ClearWaits();
    CMemoryKinetra unit(c.keepWaiting);
    for (int reading : c.readings) unit.memory->Answer(Word(reading));
    unit.SetChannel1AndWait(4000);
    EXPECT_EQ(m_clock.Waits(), c.waits);
    EXPECT_TRUE(unit.memory->input.empty());
  }
}

TEST_F(KinetraTest, ChannelTwoReadsUntilSettledAtMostTenTimes) {
  struct Case {
    const char* name;
    bool keepWaiting;
    std::size_t readings;  // after the set value
    int settledAt;         // the reading (1..) that is within 5 %; 0 for none
  };
  const Case cases[] = {
      {"once", false, 1, 0},
      {"settles on the third", true, 3, 3},
      {"never settles", true, 10, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMemoryKinetra unit(c.keepWaiting);
    unit.memory->Answer(Word(0));  // the reading before the change
    for (std::size_t i = 1; i <= c.readings; ++i) unit.memory->Answer(Word(static_cast<int>(i) == c.settledAt ? 196 : 100));
    unit.memory->Answer(Word(0));  // one more than may be read
    unit.SetChannel2AndWait(2.0);
    EXPECT_EQ(unit.memory->input.size(), 2u);
    Bytes expected = {0x98, 0x96, 0x00, 0xC8};
    expected.insert(expected.end(), c.readings, 0x98);
    EXPECT_EQ(unit.memory->written, expected);
  }
  EXPECT_TRUE(m_clock.Waits().empty());
}

TEST_F(KinetraTest, TransportIsTheRemoteDeviceStreamWhenTheDeviceManagerEnablesIt) {
  CTempFolder config;
  SetDeviceManagerDirectory(config.Path().string());
  CMemoryKinetra unit;
  EXPECT_NE(dynamic_cast<CServoUSB*>(unit.CreateTransport().get()), nullptr) << "no settings";
  config.Write("Device Manager.ini", "[ZQ3351-9F]\nAddress=127.0.0.1\nPort=9\nEnabled=0\n");
  EXPECT_NE(dynamic_cast<CServoUSB*>(unit.CreateTransport().get()), nullptr) << "not enabled";
  // (another size than before, so that a settings cache sees the change at once)
  config.Write("Device Manager.ini", "[ZQ3351-9F]\nAddress=127.0.0.1\nPort=9\nName=SERVO-7\nEnabled=1\n");
  EXPECT_NE(dynamic_cast<CStreamSocketUsb*>(unit.CreateTransport().get()), nullptr);
  SetDeviceManagerDirectory({});
}

}  // namespace
