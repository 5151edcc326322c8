#include "transport/stream_device.h"

#include <stdexcept>

#include "emulated_bus_fixture.h"
#include "support/memory_stream.h"
#include "transport/stream_nul.h"
#include "devices/2a/quadrel_usb.h"
#include "transport/usb_init_failed_dlg.h"

namespace {

using Bytes = CEmulatedUsbDevice::Bytes;
using Reply = CEmulatedUsbDevice::Reply;

// A protocol object of the 2A kind: identity command, model code "ZR6618-7D".
class CTestInterface : public CStreamDevice {
 public:
  bool Identify() override {
    if (throwOther) throw std::runtime_error("not a transfer error");
    return ReadIdentity("ZR6618-7D");
  }
  void Use(std::unique_ptr<CStreamIO> stream) { m_stream = std::move(stream); }

  bool simulation = false;
  bool throwOther = false;
  int transportsCreated = 0;
  std::function<std::unique_ptr<CStreamIO>()> factory;

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override {
    ++transportsCreated;
    return factory ? factory() : std::make_unique<CQuadrelUsb>();
  }
  bool OffersSimulation() const override { return simulation; }
};

// Answers the identity command with `identity` and its terminating zero.
CEmulatedUsbDevice::Handler AnswerIdentity(const std::string& identity) {
  return [identity](const Bytes& frame) {
    if (frame != Bytes{0x02}) return Reply{};
    return Reply{CEmulatedUsbDevice::Packets(identity + std::string(1, '\0'))};
  };
}

class ConnectLoopTest : public EmulatedBusTest {
 protected:
  CEmulatedUsbDevice& Device(const std::string& identity) {
    auto& device = AddDevice(0x7D2A, "q", false, "Tavrix Quadrel Interface");
    device.SetHandler(AnswerIdentity(identity));
    return device;
  }
  std::vector<std::string> Kinds() const {
    std::vector<std::string> kinds;
    for (const auto& shown : m_ui.Record()) kinds.push_back(shown.kind);
    return kinds;
  }
  CTestInterface m_interface;
};

TEST_F(ConnectLoopTest, TheRightDeviceConnects) {
  Device("ZR6618-7D Quadrel V1.07");
  EXPECT_EQ(m_interface.OpenAndIdentify(), CStreamDevice::kConnected);
  EXPECT_EQ(m_interface.Identity(), "ZR6618-7D Quadrel V1.07");
  ASSERT_NE(m_interface.Stream(), nullptr);
  EXPECT_TRUE(m_interface.Stream()->IsOpen());
  EXPECT_TRUE(m_ui.Record().empty());
  EXPECT_EQ(m_ui.waitCursorDepth, 0);
}

TEST_F(ConnectLoopTest, EmptyIdentityShowsOnlyTheDialogAndExitLeavesNoTransport) {
  auto& device = Device("");
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kExitButton);
  EXPECT_EQ(m_interface.OpenAndIdentify(), CStreamDevice::kExit);
  EXPECT_EQ(Kinds(), std::vector<std::string>{"interface"});
  EXPECT_EQ(m_interface.Stream(), nullptr);
  EXPECT_TRUE(device.WaitUntil([&] { return device.OpenConnections() == 0; })) << "the transport was deleted";
}

TEST_F(ConnectLoopTest, AnotherModelIsNamedBeforeTheDialog) {
  Device("ZQ1184-2B Interface 1A");
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kExitButton);
  EXPECT_EQ(m_interface.OpenAndIdentify(), CStreamDevice::kExit);
  EXPECT_EQ(Kinds(), (std::vector<std::string>{"message", "interface"}));
  EXPECT_EQ(m_ui.MessageTexts()[0],
            "Device \"ZQ1184-2B Interface 1A\" found.\nThe program requires device \"ZR6618-7D\".");
  EXPECT_NE(m_ui.InterfaceTexts()[0].find("\"Tavrix Quadrel Interface\""), std::string::npos);
}

TEST_F(ConnectLoopTest, RetryTakesAFreshTransport) {
  auto& device = Device("ZP0000-0X");
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kRepeatButton);
  m_interface.factory = [&]() -> std::unique_ptr<CStreamIO> {
    // The person fixed the device before pressing "Repeat".
    if (m_interface.transportsCreated == 2) device.SetHandler(AnswerIdentity("ZR6618-7D"));
    return std::make_unique<CQuadrelUsb>();
  };
  EXPECT_EQ(m_interface.OpenAndIdentify(), CStreamDevice::kConnected);
  EXPECT_EQ(m_interface.transportsCreated, 2);
  EXPECT_EQ(m_ui.InterfaceTexts().size(), 1u);
  // Each connection's thread notes its connect itself, a moment after the host's open.
  EXPECT_TRUE(device.WaitUntil([&] { return device.Connections() == 4; })) << "probe and pipes, twice";
  EXPECT_TRUE(device.WaitUntil([&] { return device.OpenConnections() == 1; }));
}

// A transport whose QueryInitFailure gives scripted answers, as transports without the
// "Interface" dialog do (their default answer is 6); checks how the loop asks.
class CAnsweringTransport : public CQuadrelUsb {
 public:
  CAnsweringTransport(std::vector<int>& answers, int& asked) : m_answers(answers), m_asked(asked) {}
  int QueryInitFailure(bool allowSimulation, bool allowExit) override {
    EXPECT_FALSE(allowSimulation);
    EXPECT_TRUE(allowExit);
    return m_answers.at(static_cast<std::size_t>(m_asked++));
  }

 private:
  std::vector<int>& m_answers;
  int& m_asked;
};

TEST_F(ConnectLoopTest, SimulationWhereTheFamilyOffersIt) {
  std::vector<int> answers{CStreamIO::kSimulate};
  int asked = 0;
  m_interface.simulation = true;
  m_interface.factory = [&] { return std::make_unique<CAnsweringTransport>(answers, asked); };
  EXPECT_EQ(m_interface.OpenAndIdentify(), CStreamDevice::kSimulation);
  EXPECT_NE(dynamic_cast<CStreamNUL*>(m_interface.Stream()), nullptr);
  EXPECT_EQ(m_interface.transportsCreated, 1);
}

TEST_F(ConnectLoopTest, SimulationAnswerIsARetryWhereTheFamilyDoesNotOfferIt) {
  std::vector<int> answers{CStreamIO::kSimulate, CStreamIO::kRetry, CStreamIO::kExit};
  int asked = 0;
  m_interface.factory = [&] { return std::make_unique<CAnsweringTransport>(answers, asked); };
  EXPECT_EQ(m_interface.OpenAndIdentify(), CStreamDevice::kExit);
  EXPECT_EQ(m_interface.transportsCreated, 3);
  EXPECT_EQ(m_interface.Stream(), nullptr);
}

TEST_F(ConnectLoopTest, TheInterfaceDialogNeverOffersSimulation) {
  m_interface.simulation = true;
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kSimulationButton);  // disabled: ignored
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kExitButton);
  EXPECT_EQ(m_interface.OpenAndIdentify(), CStreamDevice::kExit);
  EXPECT_EQ(m_ui.InterfaceTexts().size(), 1u);
  EXPECT_EQ(m_ui.Record().back().kind, "interface-ignored");
}

TEST_F(ConnectLoopTest, TransferErrorDuringIdentifyLeadsToTheDialog) {
  auto& device = AddDevice(0x7D2A, "q", false, "Tavrix Quadrel Interface");
  device.SetHandler([](const Bytes&) { return Reply{{CEmulatedUsbDevice::ToBytes("ZR66")}, true}; });
  m_ui.QueueInterfaceAnswer(CUsbInitFailedDlg::kExitButton);
  EXPECT_EQ(m_interface.OpenAndIdentify(), CStreamDevice::kExit);
  EXPECT_EQ(Kinds(), std::vector<std::string>{"interface"});
  EXPECT_EQ(m_ui.waitCursorDepth, 0);
}

TEST_F(ConnectLoopTest, OtherExceptionsReachTheCaller) {
  Device("ZR6618-7D");
  m_interface.throwOther = true;
  EXPECT_THROW(m_interface.OpenAndIdentify(), std::runtime_error);
  EXPECT_EQ(m_ui.waitCursorDepth, 0);
}

TEST_F(ConnectLoopTest, DeletingTheProtocolObjectClosesItsTransport) {
  auto& device = Device("ZR6618-7D");
  {
    CTestInterface interface;
    ASSERT_EQ(interface.OpenAndIdentify(), CStreamDevice::kConnected);
  }
  EXPECT_TRUE(device.WaitUntil([&] { return device.OpenConnections() == 0; }));
}

TEST(IdentityReading, ComparesAtMostNineCharacters) {
  CScriptedUserInterface ui;
  SetUiLanguage(LANG_ENGLISH);
  struct Case {
    std::string identity;
    bool match;
    bool message;
  };
  const Case cases[] = {
      {"ZR6618-7D", true, false}, {"ZR6618-7D V1.07 extra", true, false},
      {"ZR6618-7", false, true},  {"ZR6618-7E", false, true},
      {"zr6618-7d", false, true}, {"", false, false},
  };
  for (const auto& c : cases) {
    ui.ClearRecord();
    CTestInterface interface;
    auto stream = std::make_unique<CMemoryStream>();
    CMemoryStream& memory = *stream;
    memory.Open();
    memory.AnswerText("stale");
    memory.ReplyToNextWrite(c.identity + std::string(1, '\0'));
    interface.Use(std::move(stream));
    EXPECT_EQ(interface.Identify(), c.match) << c.identity;
    EXPECT_EQ(interface.Identity(), c.identity);
    EXPECT_EQ(memory.written, std::vector<std::uint8_t>{0x02});
    EXPECT_EQ(memory.clears, 1) << "the input is cleared before the command";
    EXPECT_EQ(ui.MessageTexts().size(), c.message ? 1u : 0u) << c.identity;
  }
}

TEST(IdentityReading, ForeignBytesAreShownAsTheirCharacters) {
  CScriptedUserInterface ui;
  SetUiLanguage(LANG_ENGLISH);
  CTestInterface interface;
  auto stream = std::make_unique<CMemoryStream>();
  stream->Open();
  stream->ReplyToNextWrite(std::string("Ger\xE4t \xB0") + std::string(1, '\0'));
  interface.Use(std::move(stream));
  EXPECT_FALSE(interface.Identify());
  EXPECT_EQ(interface.Identity().size(), 7u) << "one character per byte";
  EXPECT_EQ(ui.MessageTexts(),
            std::vector<std::string>{"Device \"Gerät °\" found.\nThe program requires device \"ZR6618-7D\"."});
}

TEST(VersionParse, ReadsTheNumberAtAFixedIndex) {
  struct Case {
    std::string identity;
    std::size_t index;
    std::uint16_t version;
  };
  const Case cases[] = {
      {"ZR6618-7D Quadrel 107", 18, 107},
      {"ZR6618-7D Quadrel  +42abc", 18, 42},
      {"ZQ1184-2B 123", 10, 123},
      {"ZQ1184-2B ", 10, 0},
      {"ZQ1184-2B", 10, 0},          // shorter than the index: 0, nothing read past the text
      {"ZQ1184-2B-", 9, 0},          // a sign without digits
      {"ZQ1184-2B x12", 10, 0},
      {"", 18, 0},
      {"ZQ1184-2B -1", 10, 65535},   // kept to 16 bits like the platform's conversion
      {"ZQ1184-2B 70000", 10, 4464},
      {"ZQ1184-2B 99999999999999999999", 10, 0xFFFF},  // too large: the largest int
      {"ZQ1184-2B -99999999999999999999", 10, 0},     // too small: the smallest int
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CStreamDevice::ParseVersionAt(c.identity, c.index), c.version) << c.identity;
  }
}

}  // namespace
