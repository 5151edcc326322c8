// The simulated 2A interface driven by the program's own USB transport over the emulated bus:
// the host side of each exchange is written here with the transport's framing helpers.

#include "sim/devices/2a/sim_2a.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "platform/emulated_usb_bus.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "sim/firmware_version_tag.h"
#include "sim/sim_test_support.h"
#include "support/scripted_user_interface.h"
#include "support/temp_folder.h"
#include "transport/stream_device.h"
#include "devices/2a/quadrel_usb.h"

namespace {

using namespace std::chrono_literals;
using Bytes_t = std::vector<std::uint8_t>;

constexpr std::uint8_t kAck = 0x21;

// `size` bytes counting up from `seed`, with the version tag at `tagAt` when given.
Bytes_t Data(std::size_t size, std::uint8_t seed, std::optional<std::uint16_t> tag = std::nullopt,
             std::size_t tagAt = 16) {
  Bytes_t data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(seed + i * 7);
  if (tag) {
    std::string text = FirmwareVersionTag(*tag) + ";";  // ";" ends the digits
    if (tagAt + text.size() > size) throw std::logic_error("the tag does not fit");
    std::copy(text.begin(), text.end(), data.begin() + static_cast<std::ptrdiff_t>(tagAt));
  }
  return data;
}

std::string AskIdentity(CStreamIO& io) {
  io.WriteByte(0x02);
  return io.ReadString();
}

struct TestSegment {
  std::uint32_t Start = 0;
  std::uint32_t Size = 0;  // up to 64 KiB; the header carries its low 16 bits
  std::uint16_t Kind = 1;
  Bytes_t Data;            // Size bytes; none for an empty segment, which goes as an empty write

  CSimBootItem Item() const {
    return {Start, static_cast<std::uint16_t>(Size & 0xFFFF), Kind, Data};
  }
};

void SendSegmentHeader(CStreamIO& io, const TestSegment& segment) {
  io.BeginWriteBuffer();
  io.WriteDWord(segment.Start);
  for (std::uint16_t half : {static_cast<std::uint16_t>(segment.Size & 0xFFFF), segment.Kind}) {
    io.WriteByte(static_cast<std::uint8_t>(half >> 8));
    io.WriteByte(static_cast<std::uint8_t>(half & 0xFF));
  }
  io.EndWriteBuffer();
}

// The host's segment download: the five header bytes as one packet, then each segment's
// header as one packet and its data, everything acknowledged. False when the header is not
// answered "!"; a refused acknowledgement later raises CStreamException.
bool SendSegments(CStreamIO& io, const std::vector<TestSegment>& segments) {
  io.BeginWriteBuffer();
  for (std::uint8_t byte : {0x1F, 0x01, static_cast<int>(segments.size()), 0x00, 0x01}) io.WriteByte(byte);
  io.EndWriteBuffer();
  if (io.ReadByte() != kAck) return false;
  for (const TestSegment& segment : segments) {
    SendSegmentHeader(io, segment);
    io.ExpectAck();
    io.Write(segment.Data.data(), static_cast<unsigned>(segment.Data.size()));
    io.ExpectAck();
  }
  return true;
}

// The host's block download: 0x1F, each block with 0x04, its offset and length 0x1000, 0x10.
void SendBlocks(CStreamIO& io, const std::vector<CSimBootItem>& blocks) {
  io.WriteByte(0x1F);
  for (const CSimBootItem& block : blocks) {
    io.WriteByte(0x04);
    io.WriteDWord(block.Address);
    io.WriteByte(0x10);
    io.WriteByte(0x00);
    io.ExpectAck();
    io.Write(block.Data.data(), static_cast<unsigned>(block.Data.size()));
    io.ExpectAck();
  }
  io.WriteByte(0x10);
}

// The host's binary download: 1D 01, each block with 1D 02 and its address, 0x12.
void SendBinary(CStreamIO& io, const std::vector<CSimBootItem>& blocks) {
  io.WriteByte(0x1D);
  io.WriteByte(0x01);
  io.ExpectAck();
  for (const CSimBootItem& block : blocks) {
    io.WriteByte(0x1D);
    io.WriteByte(0x02);
    io.WriteDWord(block.Address);
    io.ExpectAck();
    io.Write(block.Data.data(), static_cast<unsigned>(block.Data.size()));
    io.ExpectAck();
  }
  io.WriteByte(0x12);
  io.ExpectAck();
}

CSimBootItem Block(std::uint32_t address, Bytes_t data) { return {address, 0x1000, 0, std::move(data)}; }
CSimBootItem BinaryBlock(std::uint32_t address, Bytes_t data) { return {address, 0, 0, std::move(data)}; }

class Sim2ATest : public SimUsbBusTest {
 protected:
  // A 2A device made from tavrix-devsim options.
  CSim2A& Plug(const std::string& options = {}) { return PlugDescribed<CSim2A>("2a:" + options); }

  // Resets the device the way the host does and waits for it to come back.
  void ResetAndWait(CQuadrelUsb& usb, std::uint32_t comebacks = 1) {
    EXPECT_TRUE(usb.ResetDevice());
    ASSERT_TRUE(m_server->WaitForReenumerations(comebacks, 10s));
  }

  std::string IdentityAfterOpen() {
    CQuadrelUsb usb;
    if (!usb.Open()) return "(no device)";
    return AskIdentity(usb);
  }
};

TEST_F(Sim2ATest, AnswersIdentityAndVariantAsConfigured) {
  struct Case {
    std::string options;
    std::string identity;
    std::uint8_t variant;
    std::string describe;
  } cases[] = {
      {"", "ZR6618-7D Quadrel 100", 1, "variant 1, firmware 1.00"},
      {"variant=3,firmware=107", "ZR6618-7D Quadrel 107", 3, "variant 3, firmware 1.07"},
      {"variant=?", "ZR6618-7D Quadrel 100", 0x3F, "variant ?, firmware 1.00"},
      {"variant=2,identity=\"ZR6618-7X other\"", "ZR6618-7X other", 2, "variant 2, firmware 1.00"},
  };
  for (const Case& c : cases) {
    CSim2A& device = Plug(c.options);
    EXPECT_EQ(device.Describe(), c.describe) << c.options;
    EXPECT_EQ(device.Address().Generation, ESimGeneration::First);
    EXPECT_EQ(device.FriendlyName(), "Tavrix Quadrel Interface");
    CQuadrelUsb usb;
    ASSERT_TRUE(usb.Open()) << c.options;
    EXPECT_EQ(AskIdentity(usb), c.identity) << c.options;
    usb.WriteByte(0x0B);
    EXPECT_EQ(usb.ReadByte(), c.variant) << c.options;
    usb.Close();
    m_bus->Unplug(*m_server);
  }
  // Where the host reads the version.
  EXPECT_EQ(CStreamDevice::ParseVersionAt("ZR6618-7D Quadrel 107", 18), 107);
}

TEST_F(Sim2ATest, BadOptionsAreSettingMistakes) {
  for (const char* options : {"variant=4", "variant=", "firmware=70000", "record=", "refuse_header=maybe"}) {
    EXPECT_THROW(Plug(options), CSimError) << options;
  }
}

TEST_F(Sim2ATest, SegmentDownloadIsRecordedAndItsVersionAppliesAfterTheReset) {
  CSim2A& device = Plug();
  // Sent out of address order: the tag of the lower address counts.
  std::vector<TestSegment> segments{
      {0x8000, 0x2000, 1, Data(0x2000, 1, 300)},
      {0x4000, 0x1000, 2, Data(0x1000, 2, 212, 0x0FE0)},
  };
  CQuadrelUsb usb;
  ASSERT_TRUE(usb.Open());
  ASSERT_TRUE(SendSegments(usb, segments));
  EXPECT_EQ(AskIdentity(usb), "ZR6618-7D Quadrel 100");  // the old firmware runs until the reset
  ResetAndWait(usb);
  EXPECT_EQ(IdentityAfterOpen(), "ZR6618-7D Quadrel 212");

  std::vector<CSimBootDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_EQ(downloads[0].Kind, ESimBootDownloadKind::Segment);
  EXPECT_TRUE(downloads[0].Complete);
  EXPECT_EQ(downloads[0].Items, (std::vector<CSimBootItem>{segments[0].Item(), segments[1].Item()}));
  EXPECT_TRUE(device.Violations().empty());
}

TEST_F(Sim2ATest, BlockAndBinaryDownloadsApplyTheirVersionAtOnce) {
  struct Case {
    const char* name;
    std::function<void(CStreamIO&, const std::vector<CSimBootItem>&)> send;
    std::vector<CSimBootItem> items;
    ESimBootDownloadKind kind;
  } cases[] = {
      {"block", SendBlocks, {Block(0x00000, Data(4096, 3)), Block(0x12000, Data(4096, 4, 312, 4000))},
       ESimBootDownloadKind::Block},
      {"binary", SendBinary,
       {BinaryBlock(0x0800C000, Data(4096, 5, 401)), BinaryBlock(0x0800D000, Data(4096, 6, 999))},
       ESimBootDownloadKind::Binary},
  };
  for (const Case& c : cases) {
    CSim2A& device = Plug("variant=3");
    CQuadrelUsb usb;
    ASSERT_TRUE(usb.Open());
    c.send(usb, c.items);
    const std::string expected = c.kind == ESimBootDownloadKind::Block ? "312" : "401";
    EXPECT_EQ(AskIdentity(usb), "ZR6618-7D Quadrel " + expected) << c.name;
    ASSERT_TRUE(device.WaitForEndedDownloads(1, 5s)) << c.name;
    std::vector<CSimBootDownload> downloads = device.Downloads();
    ASSERT_EQ(downloads.size(), 1u) << c.name;
    EXPECT_EQ(downloads[0].Kind, c.kind) << c.name;
    EXPECT_TRUE(downloads[0].Complete) << c.name;
    EXPECT_EQ(downloads[0].Items, c.items) << c.name;
    EXPECT_TRUE(device.Violations().empty()) << c.name;
    usb.Close();
    m_bus->Unplug(*m_server);
  }
}

TEST_F(Sim2ATest, DownloadWithoutVersionTagKeepsTheVersion) {
  CSim2A& device = Plug("firmware=150");
  CQuadrelUsb usb;
  ASSERT_TRUE(usb.Open());
  ASSERT_TRUE(SendSegments(usb, {{0x4000, 0x100, 1, Data(0x100, 9)}}));
  ResetAndWait(usb);
  EXPECT_EQ(IdentityAfterOpen(), "ZR6618-7D Quadrel 150");
  EXPECT_TRUE(device.Downloads().at(0).Complete);
  EXPECT_NE(device.Transcript().Text().find("no version tag, the firmware stays 1.50"), std::string::npos);
}

TEST_F(Sim2ATest, IncompleteDownloadKeepsTheOldVersion) {
  // Two segments: A (header, data) carries a tag, so an early end must not apply it.
  // Acknowledgements: 1 header, 2 A's header, 3 A's data, 4 B's header, 5 B's data.
  const std::vector<TestSegment> segments{{0x4000, 0x1000, 1, Data(0x1000, 1, 300)},
                                          {0x8000, 0x2000, 1, Data(0x2000, 2)}};
  const std::uint64_t intoB = 5 + 8 + 0x1000 + 8 + 0x1000;  // bytes received halfway into B's data
  auto segmentDownload = [&](CStreamIO& io) { return SendSegments(io, segments); };
  auto blockDownload = [](CStreamIO& io) {
    SendBlocks(io, {Block(0x1000, Data(4096, 1, 300)), Block(0x2000, Data(4096, 2))});
    return true;
  };
  auto binaryDownload = [](CStreamIO& io) {
    SendBinary(io, {BinaryBlock(0x0800C000, Data(4096, 1, 300))});
    return true;
  };
  struct Case {
    std::string options;
    std::function<bool(CStreamIO&)> send;
    std::size_t items;  // acknowledged before the end
    std::chrono::milliseconds readBound = 5s;
  } cases[] = {
      {"refuse_header", segmentDownload, 0},
      {"refuse_ack=3", segmentDownload, 0},
      {"refuse_ack=4", segmentDownload, 1},
      {"refuse_ack=5", segmentDownload, 1},
      {"close_after=" + std::to_string(intoB), segmentDownload, 1},
      {"stall_after=" + std::to_string(intoB), segmentDownload, 1, 300ms},
      {"close_after=" + std::to_string(1 + 7 + 4096 + 7 + 100), blockDownload, 1},
      {"refuse_ack=4", binaryDownload, 1},  // 0x12 refused: the end is not taken
  };
  for (const Case& c : cases) {
    CSim2A& device = Plug(c.options);
    m_usb.SetReadBound(c.readBound);
    CQuadrelUsb usb;
    ASSERT_TRUE(usb.Open());
    bool completed = false;
    try {
      completed = c.send(usb);
    } catch (const CStreamException&) {
    }
    EXPECT_FALSE(completed) << c.options;
    m_usb.SetReadBound(5s);
    ResetAndWait(usb);
    EXPECT_EQ(IdentityAfterOpen(), "ZR6618-7D Quadrel 100") << c.options;
    ASSERT_TRUE(device.WaitForEndedDownloads(1, 5s)) << c.options;
    std::vector<CSimBootDownload> downloads = device.Downloads();
    ASSERT_EQ(downloads.size(), 1u) << c.options;
    EXPECT_FALSE(downloads[0].Complete) << c.options;
    EXPECT_EQ(downloads[0].Items.size(), c.items) << c.options;
    m_bus->Unplug(*m_server);
  }
}

// What arrives decides, not how soon: data after the header mean 64 KiB, an empty write an
// empty segment.
TEST_F(Sim2ATest, SizeZeroSegmentIsFull64KiBWhenDataFollowAndEmptyAfterAnEmptyWrite) {
  TestSegment full{0x10000, 0x10000, 1, Data(0x10000, 7, 512, 0xFFE0)};
  TestSegment emptyWrite{0x20000, 0, 1, {}};
  TestSegment secondEmpty{0x30000, 0, 1, {}};
  TestSegment after{0x4000, 0x100, 1, Data(0x100, 8)};  // proves the device kept in step
  CSim2A& device = Plug();
  CQuadrelUsb usb;
  ASSERT_TRUE(usb.Open());
  ASSERT_TRUE(SendSegments(usb, {full, emptyWrite, secondEmpty, after}));
  ResetAndWait(usb);
  EXPECT_EQ(IdentityAfterOpen(), "ZR6618-7D Quadrel 512");
  std::vector<CSimBootDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(downloads[0].Complete);
  EXPECT_EQ(downloads[0].Items,
            (std::vector<CSimBootItem>{full.Item(), emptyWrite.Item(), secondEmpty.Item(), after.Item()}));
  EXPECT_EQ(downloads[0].Items[0].SizeField, 0);
  EXPECT_TRUE(device.Violations().empty());
}

TEST_F(Sim2ATest, RecordFileHoldsWhatWasAcknowledgedBeforeTheHostSeesIt) {
  const std::filesystem::path record = m_folder / "record.txt";
  CSim2A& device = Plug("variant=3,record=" + record.string());
  EXPECT_EQ(ReadWholeFile(record), "");  // there from the start, empty

  CQuadrelUsb usb;
  ASSERT_TRUE(usb.Open());
  // A segment download, step by step: each item is in the file once its "!" came.
  usb.BeginWriteBuffer();
  for (std::uint8_t byte : {0x1F, 0x01, 0x02, 0x00, 0x01}) usb.WriteByte(byte);
  usb.EndWriteBuffer();
  usb.ExpectAck();
  SendSegmentHeader(usb, {0x4000, 4, 1, {}});
  usb.ExpectAck();
  const Bytes_t data{0xDE, 0xAD, 0xBE, 0xEF};
  usb.Write(data.data(), 4);
  usb.ExpectAck();
  EXPECT_EQ(ReadWholeFile(record), "download segment\nsegment 0x00004000 0x0004 1 DEADBEEF\n");
  SendSegmentHeader(usb, {0x8000, 0, 2, {}});
  usb.ExpectAck();
  usb.Write(nullptr, 0);
  usb.ExpectAck();
  std::string expected =
      "download segment\n"
      "segment 0x00004000 0x0004 1 DEADBEEF\n"
      "segment 0x00008000 0x0000 2\n"
      "end complete\n";
  EXPECT_EQ(ReadWholeFile(record), expected);

  // A refused start, a block download and a binary download.
  device.Faults().RefuseAcknowledgement(1);
  EXPECT_THROW(SendBinary(usb, {}), CStreamException);
  SendBlocks(usb, {Block(0x12000, Bytes_t(4096, 0xAB))});
  ASSERT_TRUE(device.WaitForEndedDownloads(3, 5s));  // 0x10 is not answered
  SendBinary(usb, {BinaryBlock(0x0800C000, Bytes_t(4096, 0x5C))});
  auto hex = [](const char* pair) {
    std::string text;
    for (int i = 0; i < 4096; ++i) text += pair;
    return text;
  };
  expected += "download binary\nend incomplete\n";
  expected += "download block\nblock 0x00012000 " + hex("AB") + "\nend complete\n";
  expected += "download binary\nbinary 0x0800C000 " + hex("5C") + "\nend complete\n";
  EXPECT_EQ(ReadWholeFile(record), expected);
  EXPECT_FALSE(std::filesystem::exists(record.string() + ".tmp"));
}

TEST_F(Sim2ATest, ProtocolViolationsAreReportedAndTheDeviceKeepsInStep) {
  auto segmentHeaderInTwoWrites = [](CStreamIO& io) {
    io.BeginWriteBuffer();
    for (std::uint8_t byte : {0x1F, 0x01, 0x01, 0x00, 0x01}) io.WriteByte(byte);
    io.EndWriteBuffer();
    io.ExpectAck();
    const Bytes_t header{0x00, 0x00, 0x40, 0x00, 0x00, 0x02, 0x00, 0x01};
    io.Write(header.data(), 4);
    io.Write(header.data() + 4, 4);
    io.ExpectAck();
    io.Write(header.data(), 2);
    io.ExpectAck();
  };
  auto badStartHeader = [](CStreamIO& io) {
    io.BeginWriteBuffer();
    for (std::uint8_t byte : {0x1F, 0x02, 0x00, 0x00, 0x01}) io.WriteByte(byte);
    io.EndWriteBuffer();
    io.ExpectAck();  // no segments announced: the download is complete
  };
  auto block = [](std::uint32_t address, std::uint16_t length, bool start) {
    return [=](CStreamIO& io) {
      if (start) io.WriteByte(0x1F);
      io.WriteByte(0x04);
      io.WriteDWord(address);
      io.WriteByte(static_cast<std::uint8_t>(length >> 8));
      io.WriteByte(static_cast<std::uint8_t>(length & 0xFF));
      io.ExpectAck();
      Bytes_t data(length, 0x11);
      io.Write(data.data(), length);
      io.ExpectAck();
      io.WriteByte(0x10);
    };
  };
  auto binaryOutOfOrder = [](CStreamIO& io) {
    SendBinary(io, {BinaryBlock(0x0800D000, Bytes_t(4096, 1))});
  };
  auto unknownCommand = [](CStreamIO& io) { io.WriteByte(0x55); };
  struct Case {
    const char* name;
    std::function<void(CStreamIO&)> send;
    const char* violation;
  } cases[] = {
      {"segment header in two writes", segmentHeaderInTwoWrites, "expected 8 bytes as one packet"},
      {"bad segment download header", badStartHeader, "header 1F 02 00 00 01"},
      {"block length", block(0x1000, 0x0800, true), "announced with length 0800"},
      {"block address not aligned", block(0x12345, 0x1000, true), "block address 00012345"},
      {"block address above 1 MiB", block(0x100000, 0x1000, true), "block address 00100000"},
      {"block without 0x1F", block(0x1000, 0x1000, false), "block data without 0x1F"},
      {"binary block out of order", binaryOutOfOrder, "binary block at 0800D000 (expected 0800C000)"},
      {"unknown command", unknownCommand, "unknown command 55"},
  };
  for (const Case& c : cases) {
    CSim2A& device = Plug("variant=3");
    CQuadrelUsb usb;
    ASSERT_TRUE(usb.Open());
    c.send(usb);
    EXPECT_EQ(AskIdentity(usb), "ZR6618-7D Quadrel 100") << c.name;  // still in step
    std::vector<std::string> violations = device.Violations();
    ASSERT_EQ(violations.size(), 1u) << c.name;
    EXPECT_NE(violations[0].find(c.violation), std::string::npos) << c.name << ": " << violations[0];
    usb.Close();
    m_bus->Unplug(*m_server);
  }
}

}  // namespace
