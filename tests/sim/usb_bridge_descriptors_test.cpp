// What an emulated-bus device looks like on USB through tavrix-usb-bridge: the device paths it
// takes, and the answers on endpoint 0 that libusb reads names and descriptors from.

#include "sim/usb_bridge/bridge_descriptors.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes SetupPacket(std::uint8_t type, std::uint8_t request, unsigned value, unsigned length) {
  return {type, request, static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8),
          0, 0, static_cast<std::uint8_t>(length & 0xFF), static_cast<std::uint8_t>(length >> 8)};
}

TEST(BridgeDescriptorsTest, OnlyDevicePathsOfTheBusShapeAreDevices) {
  auto identity = ParseBridgeDevicePath("usb#vid_7a3c&pid_7d2a#SIM-1_a#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->VendorId, 0x7A3C);
  EXPECT_EQ(identity->ProductId, 0x7D2A);
  EXPECT_EQ(identity->Serial, "SIM-1_a");
  for (const char* name : {"usb#vid_7a3c&pid_7d2a#SIM1#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}.name",
                           "usb#vid_7A3C&pid_7d2a#SIM1#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}",
                           "usb#vid_7a3c&pid_7d2a#SIM 1#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}",
                           "usb#vid_7a3c&pid_7d2a##{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}",
                           "usb#vid_7a3c&pid_7d2a#SIM1#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}.new"}) {
    EXPECT_FALSE(ParseBridgeDevicePath(name)) << name;
  }
}

TEST(BridgeDescriptorsTest, ControlRequestsAreAnsweredFromTheDescriptors) {
  CBridgeIdentity identity{0x7A3C, 0x7D2A, "SIM1", "Tavrix Quadrel Interface"};
  Bytes all = BridgeDescriptors(identity);
  struct Case {
    const char* name;
    Bytes setup;
    std::optional<Bytes> answer;  // nothing: the device stalls
  };
  const Case cases[] = {
      {"device descriptor", SetupPacket(0x80, 6, 0x0100, 18), Bytes(all.begin(), all.begin() + 18)},
      {"configuration, header only", SetupPacket(0x80, 6, 0x0200, 9), Bytes(all.begin() + 18, all.begin() + 27)},
      {"configuration, whole", SetupPacket(0x80, 6, 0x0200, 255), Bytes(all.begin() + 18, all.end())},
      {"languages", SetupPacket(0x80, 6, 0x0300, 255), Bytes{4, 3, 0x09, 0x04}},
      {"no manufacturer", SetupPacket(0x80, 6, 0x0301, 255), std::nullopt},
      {"product, cut to wLength", SetupPacket(0x80, 6, 0x0302, 6), Bytes{50, 3, 'T', 0, 'a', 0}},
      {"serial", SetupPacket(0x80, 6, 0x0303, 255), Bytes{10, 3, 'S', 0, 'I', 0, 'M', 0, '1', 0}},
      {"no such string", SetupPacket(0x80, 6, 0x0304, 255), std::nullopt},
      {"second configuration", SetupPacket(0x80, 6, 0x0201, 255), std::nullopt},
      {"vendor request", SetupPacket(0xC0, 0x42, 0, 8), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnswerBridgeControl(identity, c.setup.data()), c.answer) << c.name;
  }
  // Endpoints: bulk IN 0x82 and bulk OUT 0x03 of 64 bytes in one vendor-specific interface.
  EXPECT_EQ(Bytes(all.begin() + 27, all.end()),
            (Bytes{9, 4, 0, 0, 2, 0xFF, 0, 0, 0, 7, 5, 0x82, 2, 64, 0, 0, 7, 5, 0x03, 2, 64, 0, 0}));
}

TEST(BridgeDescriptorsTest, ProductStringsAreUtf16AndFitTheDescriptor) {
  struct Case {
    const char* name;
    std::string product;
    Bytes answer;
  };
  const Case cases[] = {
      {"umlaut", "\xC3\xBC", Bytes{4, 3, 0xFC, 0x00}},
      {"outside the basic plane", "\xF0\x9F\x94\x8C", Bytes{6, 3, 0x3D, 0xD8, 0x0C, 0xDD}},
      {"malformed byte", "a\xC3", Bytes{6, 3, 'a', 0, 0xC3, 0}},
  };
  for (const Case& c : cases) {
    CBridgeIdentity identity{0x7A3C, 0x7D2A, "SIM1", c.product};
    EXPECT_EQ(AnswerBridgeControl(identity, SetupPacket(0x80, 6, 0x0302, 255).data()), c.answer) << c.name;
  }
  CBridgeIdentity identity{0x7A3C, 0x7D2A, "SIM1", std::string(300, 'x')};
  auto answer = AnswerBridgeControl(identity, SetupPacket(0x80, 6, 0x0302, 512).data());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->size(), 254u);
  EXPECT_EQ((*answer)[0], 254);
}

TEST(BridgeDescriptorsTest, ADeviceWithoutANameHasNoProductString) {
  CBridgeIdentity identity{0x7A3C, 0x7D2A, "SIM1", std::nullopt};
  Bytes all = BridgeDescriptors(identity);
  EXPECT_EQ(all[15], 0);  // iProduct
  EXPECT_FALSE(AnswerBridgeControl(identity, SetupPacket(0x80, 6, 0x0302, 255).data()));
}

}  // namespace
