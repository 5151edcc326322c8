#include "sim/usb_bridge/bridge_descriptors.h"

#include <algorithm>
#include <regex>

namespace {

constexpr std::uint8_t kDeviceDescriptor = 1;
constexpr std::uint8_t kConfigDescriptor = 2;
constexpr std::uint8_t kStringDescriptor = 3;
// The bus tells a device's name and serial, not its maker: there is no manufacturer string.
constexpr std::uint8_t kProductIndex = 2;
constexpr std::uint8_t kSerialIndex = 3;

void Append16(std::vector<std::uint8_t>& bytes, unsigned value) {
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::vector<std::uint8_t> DeviceDescriptor(const CBridgeIdentity& identity) {
  std::vector<std::uint8_t> bytes{18, kDeviceDescriptor};
  Append16(bytes, 0x0200);  // bcdUSB; the device runs at full speed
  bytes.insert(bytes.end(), {0, 0, 0, kBridgePacketSize});  // class per interface
  Append16(bytes, identity.VendorId);
  Append16(bytes, identity.ProductId);
  Append16(bytes, 0x0100);  // bcdDevice
  bytes.insert(bytes.end(), {0,
                             static_cast<std::uint8_t>(identity.Product ? kProductIndex : 0),
                             kSerialIndex, 1});
  return bytes;
}

std::vector<std::uint8_t> ConfigDescriptor() {
  std::vector<std::uint8_t> bytes{9, kConfigDescriptor};
  Append16(bytes, 9 + 9 + 7 + 7);
  bytes.insert(bytes.end(), {1, 1, 0, 0x80, 50});          // one interface, bus powered, 100 mA
  bytes.insert(bytes.end(), {9, 4, 0, 0, 2, 0xFF, 0, 0, 0});  // vendor-specific, two endpoints
  bytes.insert(bytes.end(), {7, 5, kBridgeInEndpoint, 2, kBridgePacketSize, 0, 0});
  bytes.insert(bytes.end(), {7, 5, kBridgeOutEndpoint, 2, kBridgePacketSize, 0, 0});
  return bytes;
}

// The code points of a UTF-8 text; a malformed byte stands for itself.
std::vector<char32_t> CodePoints(const std::string& text) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
    bool valid = i + static_cast<std::size_t>(extra) < text.size();
    for (int k = 1; valid && k <= extra; ++k) {
      auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      valid = (next & 0xC0) == 0x80;
      point = (point << 6) | (next & 0x3F);
    }
    points.push_back(valid ? point : lead);
    i += valid ? static_cast<std::size_t>(extra) + 1 : 1;
  }
  return points;
}

// A string descriptor: the text in UTF-16LE, cut to the 255 bytes a descriptor can hold.
std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
  std::vector<std::uint8_t> bytes{0, kStringDescriptor};
  for (char32_t point : CodePoints(text)) {
    std::size_t units = point > 0xFFFF ? 2 : 1;
    if (bytes.size() + 2 * units > 255) break;
    if (units == 2) {
      Append16(bytes, 0xD800 + ((point - 0x10000) >> 10));
      Append16(bytes, 0xDC00 + ((point - 0x10000) & 0x3FF));
    } else {
      Append16(bytes, point);
    }
  }
  bytes[0] = static_cast<std::uint8_t>(bytes.size());
  return bytes;
}

std::optional<std::vector<std::uint8_t>> Descriptor(const CBridgeIdentity& identity,
                                                    std::uint8_t type, std::uint8_t index) {
  switch (type) {
    case kDeviceDescriptor: return DeviceDescriptor(identity);
    case kConfigDescriptor:
      if (index != 0) return std::nullopt;
      return ConfigDescriptor();
    case kStringDescriptor:
      switch (index) {
        case 0: return std::vector<std::uint8_t>{4, kStringDescriptor, 0x09, 0x04};  // English (US)
        case kProductIndex:
          if (!identity.Product) return std::nullopt;
          return StringDescriptor(*identity.Product);
        case kSerialIndex: return StringDescriptor(identity.Serial);
        default: return std::nullopt;
      }
    default: return std::nullopt;
  }
}

}  // namespace

std::optional<CBridgeIdentity> ParseBridgeDevicePath(const std::string& name) {
  static const std::regex shape(
      "usb#vid_([0-9a-f]{4})&pid_([0-9a-f]{4})#([A-Za-z0-9_-]+)#\\{[0-9a-f]{8}-[0-9a-f]{4}-"
      "[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}");
  std::smatch match;
  if (!std::regex_match(name, match, shape)) return std::nullopt;
  CBridgeIdentity identity;
  identity.VendorId = static_cast<std::uint16_t>(std::stoul(match[1].str(), nullptr, 16));
  identity.ProductId = static_cast<std::uint16_t>(std::stoul(match[2].str(), nullptr, 16));
  identity.Serial = match[3].str();
  return identity;
}

std::vector<std::uint8_t> BridgeDescriptors(const CBridgeIdentity& identity) {
  std::vector<std::uint8_t> bytes = DeviceDescriptor(identity);
  std::vector<std::uint8_t> config = ConfigDescriptor();
  bytes.insert(bytes.end(), config.begin(), config.end());
  return bytes;
}

std::optional<std::vector<std::uint8_t>> AnswerBridgeControl(const CBridgeIdentity& identity,
                                                             const std::uint8_t* setup) {
  std::uint8_t requestType = setup[0];
  std::uint8_t request = setup[1];
  unsigned value = setup[2] | (setup[3] << 8);
  unsigned length = setup[6] | (setup[7] << 8);
  std::optional<std::vector<std::uint8_t>> answer;
  if (requestType == 0x80 && request == 6) {  // GET_DESCRIPTOR
    answer = Descriptor(identity, static_cast<std::uint8_t>(value >> 8),
                        static_cast<std::uint8_t>(value & 0xFF));
  } else if (requestType == 0x80 && request == 0) {  // GET_STATUS: bus powered
    answer = std::vector<std::uint8_t>{0, 0};
  } else if (requestType == 0x80 && request == 8) {  // GET_CONFIGURATION
    answer = std::vector<std::uint8_t>{1};
  } else if ((requestType & 0x80) == 0 && (request == 9 || request == 11)) {
    answer = std::vector<std::uint8_t>{};  // SET_CONFIGURATION, SET_INTERFACE
  }
  if (answer && answer->size() > length) answer->resize(length);
  return answer;
}
