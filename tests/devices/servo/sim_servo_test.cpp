// The simulated servo trainer on the emulated bus, reached through the program's own servo
// USB transport: the control unit's byte commands, frames to and from the drive through the
// link, its firmware by the segment download, and the record file.

#include "sim/devices/servo/sim_servo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "devices/downloads/c28xx_program.h"
#include "devices/downloads/segment_download.h"
#include "devices/servo/flash_regions_servo.h"
#include "devices/servo/servo_usb.h"
#include "sim/demo_firmware.h"
#include "sim/sim_error.h"
#include "sim/sim_test_support.h"
#include "support/temp_folder.h"

namespace {

using namespace std::chrono_literals;
using Bytes_t = std::vector<std::uint8_t>;

class SimServoTest : public SimUsbBusTest {
 protected:
  CSimServo& Plug(const std::string& options = {}) {
    CSimServo& device = PlugDescribed<CSimServo>("servo:" + options);
    m_usb.reset();
    m_usb = std::make_unique<CServoUSB>();
    EXPECT_TRUE(m_usb->Open());
    return device;
  }

  // A buffered request, as the host sends its multi-byte commands: one packet.
  void Send(const Bytes_t& bytes) {
    m_usb->BeginWriteBuffer();
    m_usb->Write(bytes.data(), static_cast<unsigned>(bytes.size()));
    m_usb->EndWriteBuffer();
  }
  Bytes_t Read(unsigned count) {
    Bytes_t bytes(count);
    m_usb->Read(bytes.data(), count);
    return bytes;
  }
  Bytes_t Exchange(const Bytes_t& request, unsigned answer) {
    Send(request);
    return Read(answer);
  }
  std::string Identity() {
    m_usb->WriteByte(0x91);
    return m_usb->ReadString();
  }

  std::unique_ptr<CServoUSB> m_usb;
};

TEST_F(SimServoTest, AnswersTheControlUnitCommands) {
  CSimServo& device = Plug();
  EXPECT_EQ(m_usb->GetProductId(), CServoUSB::kFirstProductId);
  EXPECT_EQ(Identity(), "ZQ3351-9F 130");
  EXPECT_EQ(Exchange({0xB2}, 2), (Bytes_t{0x00, 100}));
  EXPECT_EQ(Exchange({0xC0}, 1), (Bytes_t{1}));
  // Code 3028 through the control unit; an unknown code carries the "?" status.
  EXPECT_EQ(Exchange({0xA4, 0x0B, 0xD4, 0x00}, 5), (Bytes_t{0, 0, 0, 50, '!'}));
  EXPECT_EQ(Exchange({0xA4, 0x00, 0x07, 0x00}, 5), (Bytes_t{0, 0, 0, 0, '?'}));
  // The channels give back what was set, channel 2 in hundredths.
  Send({0x95, 0xFF, 0x38});
  Send({0x96, 0x01, 0xF4});
  EXPECT_EQ(Exchange({0x97}, 2), (Bytes_t{0xFF, 0x38}));
  EXPECT_EQ(Exchange({0x98}, 2), (Bytes_t{0x01, 0xF4}));
  EXPECT_EQ(device.Describe(), "ZQ3351-9F, firmware 1.30, application 1.00, drive 1");
  EXPECT_TRUE(device.Violations().empty());

  struct Case {
    std::string options;
    std::string identity;
    Bytes_t application;
    Bytes_t drive;
    Bytes_t code3028;
  } cases[] = {
      {"id=ZP2290-8E,firmware=125,application=212,drive=2,code=3028/0:60", "ZP2290-8E 125", {0, 212}, {2}, {0, 0, 0, 60, '!'}},
      {"id=ZP3351-9F,drive=0,refuse_read=3028/0", "ZP3351-9F 130", {0, 100}, {0}, {0, 0, 0, 0, '?'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    m_usb.reset();
    m_bus->Unplug(*m_server);
    Plug(c.options + ",serial=S" + std::to_string(&c - cases));
    EXPECT_EQ(Identity(), c.identity);
    EXPECT_EQ(Exchange({0xB2}, 2), c.application);
    EXPECT_EQ(Exchange({0xC0}, 1), c.drive);
    EXPECT_EQ(Exchange({0xA4, 0x0B, 0xD4, 0x00}, 5), c.code3028);
  }
  EXPECT_THROW(CSimDeviceRegistry::Instance().Create(ParseSimDeviceDescription("servo:id=ZQ1111-1A")), CSimError);
}

TEST_F(SimServoTest, TheSwitchTurnsToOffAfterTheAsksItIsToldOf) {
  struct Case {
    const char* options;
    Bytes_t answers;
  };
  const Case cases[] = {
      {"", {'!', '!', '!'}},
      {"switch=run", {'?', '?', '?'}},
      {"run_asks=2", {'?', '?', '!'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    CSimServo& device = Plug("serial=W" + std::to_string(&c - cases) + (*c.options ? "," : "") + c.options);
    Bytes_t answers;
    for (std::size_t i = 0; i < c.answers.size(); ++i) answers.push_back(Exchange({0x90}, 1)[0]);
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(device.SwitchAsks(), 3u);
    m_usb.reset();
    m_bus->Unplug(*m_server);
  }
}

TEST_F(SimServoTest, FramesReachTheDriveThroughTheLink) {
  CSimServo& device = Plug("busy=0");
  const Bytes_t read150 = {0xC3, 0x06, 0x01, 4, 0x40, 0x69, 0x5F, 0x00, 0, 0, 0, 0};
  // Without the link the control unit refuses the frame.
  EXPECT_EQ(Exchange(read150, 1), (Bytes_t{'?'}));
  ASSERT_EQ(device.Violations().size(), 1u);
  EXPECT_EQ(Exchange({0xC1}, 1), (Bytes_t{'!'}));
  EXPECT_EQ(Exchange(read150, 1), (Bytes_t{'!'}));
  EXPECT_EQ(Exchange({0xC4, 0x03, 0xE8}, 12), (Bytes_t{'!', 0x05, 0x81, 8, 0x4B, 0x69, 0x5F, 0x00, 0x80, 0, 0, 0}));
  // Nothing more to say: one other byte once the time-out has passed on the device's clock.
  m_clock.ClearWaits();
  EXPECT_EQ(Exchange({0xC4, 0x03, 0xE8}, 1), (Bytes_t{'?'}));
  EXPECT_EQ(m_clock.Waits(), (std::vector<std::uint32_t>{1000}));
  // A command by expedited download, then its status.
  EXPECT_EQ(Exchange({0xC3, 0x06, 0x01, 8, 0x23, 0xFD, 0x5D, 0x06, 23, 0, 0, 0}, 1), (Bytes_t{'!'}));
  EXPECT_EQ(Exchange({0xC4, 0x03, 0xE8}, 12), (Bytes_t{'!', 0x05, 0x81, 8, 0x60, 0xFD, 0x5D, 0x06, 0, 0, 0, 0}));
  // A transfer a host left half done (a block download begun) is forgotten when the link opens
  // again, and so is an answer nobody fetched.
  EXPECT_EQ(Exchange({0xC3, 0x06, 0x01, 8, 0xC6, 0x89, 0x21, 0x00, 28, 0, 0, 0}, 1), (Bytes_t{'!'}));
  EXPECT_EQ(Exchange({0xC2}, 1), (Bytes_t{'!'}));
  EXPECT_EQ(Exchange({0xC1}, 1), (Bytes_t{'!'}));
  EXPECT_EQ(Exchange(read150, 1), (Bytes_t{'!'}));
  EXPECT_EQ(Exchange({0xC4, 0x03, 0xE8}, 12), (Bytes_t{'!', 0x05, 0x81, 8, 0x4B, 0x69, 0x5F, 0x00, 0x80, 0, 0, 0}));
  // A frame longer than the bus carries is refused as well.
  EXPECT_EQ(Exchange({0xC3, 0x06, 0x01, 9, 0x40, 0x69, 0x5F, 0x00, 0, 0, 0, 0}, 1), (Bytes_t{'?'}));
  EXPECT_EQ(Exchange({0xC2}, 1), (Bytes_t{'!'}));
  EXPECT_EQ(device.Drive().Commands(), (std::vector<CSimServoCommand>{{6, 23, 0}}));
  EXPECT_EQ(device.Violations().size(), 2u);
}

TEST_F(SimServoTest, TakesItsFirmwareBySegmentDownloadAndRecordsIt) {
  CTempFolder folder;
  const std::filesystem::path record = folder.Path() / "servo.record";
  Plug("firmware=125,record=" + record.string());
  const std::string image = (folder.Path() / "servo.seg").string();
  WriteDemoFirmware("CUpdaterServo", 142, image);

  EXPECT_TRUE(CFlashUpdateSeg(m_usb.get()).UpdateFromFile(image, kFlashRegionsServo));
  ASSERT_TRUE(m_server->WaitForReenumerations(1, 10s));
  m_usb = std::make_unique<CServoUSB>();
  ASSERT_TRUE(m_usb->Open());
  EXPECT_EQ(Identity(), "ZQ3351-9F 142");
  EXPECT_EQ(Exchange({0xC1}, 1), (Bytes_t{'!'}));
  EXPECT_EQ(Exchange({0xC3, 0x06, 0x01, 8, 0x23, 0xFD, 0x5D, 0x02, 1, 0, 0, 0}, 1), (Bytes_t{'!'}));

  std::ifstream file(record);
  std::stringstream text;
  text << file.rdbuf();
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) {
    lines.push_back(line.starts_with("segment") ? line.substr(0, 18) : line);  // without the data
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"download segment", "segment 0x00006000", "segment 0x00008000",
                                             "segment 0x00010000", "end complete", "drive commands",
                                             "command 514/2 = 1 -> 0", "application 100", "drive files"}));
}

TEST_F(SimServoTest, TheC28xxUnitTakesTheSingleByteProgramDownloadAndRunsItAtOnce) {
  CSimServo& device = Plug("id=ZP2290-8E,firmware=125");
  CTempFolder folder;
  const std::string image = (folder.Path() / "servo.hex").string();
  WriteDemoFirmware("CUpdaterC28XX", 142, image);

  EXPECT_TRUE(CFlashUpdateC28XX(m_usb.get()).ProgramFile(image, true));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 5s));
  EXPECT_EQ(Identity(), "ZP2290-8E 142");
  const CSimBootDownload download = device.Downloads()[0];
  EXPECT_TRUE(download.Complete);
  ASSERT_EQ(download.Items.size(), 3u);
  EXPECT_EQ(download.Items[0].Address, 0x300000u);
  EXPECT_EQ(download.Items[0].SizeField, 0xC00);
  EXPECT_TRUE(device.Violations().empty()) << device.Violations()[0];

  // A refused segment acknowledgement ends the download and leaves the firmware.
  m_usb.reset();
  m_bus->Unplug(*m_server);
  CSimServo& refusing = Plug("id=ZP2290-8E,firmware=125,refuse_ack=2,serial=R1");
  EXPECT_FALSE(CFlashUpdateC28XX(m_usb.get()).ProgramFile(image, true));
  ASSERT_TRUE(refusing.WaitForEndedDownloads(1, 5s));
  EXPECT_FALSE(refusing.Downloads()[0].Complete);
  EXPECT_EQ(Identity(), "ZP2290-8E 125");
}

}  // namespace
