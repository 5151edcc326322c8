#include "sim/devices/zt7720/sim_zt7720.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/firmware_version_tag.h"
#include "sim/sim_error.h"
#include "sim/sim_tcp_server.h"

namespace {

constexpr std::size_t kBlockSize = 4096;

std::uint32_t ParseNumber(const std::string& key, const std::string& text, std::uint32_t max) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || value > max) throw CSimError("zt7720: bad value for " + key + ": " + text);
  return static_cast<std::uint32_t>(value);
}

}  // namespace

CSimZt7720::CSimZt7720(CSimZt7720Setup setup)
    : m_setup(std::move(setup)), m_server(std::make_unique<CSimTcpServer>([this](int fd) { Serve(fd); })) {}

CSimZt7720::~CSimZt7720() { Stop(); }

std::string CSimZt7720::Identification() const {
  std::lock_guard lock(m_mutex);
  std::string model = m_setup.ModelCode.value_or(m_setup.DeviceType == 7720 ? "ZT7720-4K" : "ZT7720-4M");
  return model + " " + std::to_string(m_setup.FirmwareVersion);
}

std::string CSimZt7720::Describe() const {
  return Identification() + " on " + m_setup.Address + ":" + std::to_string(m_setup.Port) +
         (m_setup.Discovery ? ", discovery on UDP 17008" : "");
}

CSimZt7720Setup CSimZt7720::ParseOptions(const std::string& options) {
  CSimZt7720Setup setup;
  std::size_t start = 0;
  while (start < options.size()) {
    std::size_t comma = options.find(',', start);
    std::string item = options.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? options.size() : comma + 1;
    if (item.empty()) continue;
    std::size_t equals = item.find('=');
    std::string key = item.substr(0, equals);
    // A key without "=" means key=1, as for every device of tavrix-devsim.
    std::string value = equals == std::string::npos ? "1" : item.substr(equals + 1);
    if (key == "type") setup.DeviceType = static_cast<std::uint16_t>(ParseNumber(key, value, 0xFFFF));
    else if (key == "model") setup.ModelCode = value;
    else if (key == "firmware") setup.FirmwareVersion = static_cast<std::uint16_t>(ParseNumber(key, value, 0xFFFF));
    else if (key == "address") setup.Address = value;
    else if (key == "port") setup.Port = static_cast<std::uint16_t>(ParseNumber(key, value, 0xFFFF));
    else if (key == "refuse_block") setup.RefuseBlock = ParseNumber(key, value, 0xFFFFFFFF);
    else if (key == "drop_at_block") setup.DropAtBlock = ParseNumber(key, value, 0xFFFFFFFF);
    else if (key == "discovery") setup.Discovery = ParseNumber(key, value, 1) == 1;
    else if (key == "name") setup.Name = value;
    else throw CSimError("zt7720: unknown option " + key);
  }
  return setup;
}

void CSimZt7720::Start() {
  sockaddr_in address = m_server->Start("zt7720", m_setup.Address, m_setup.Port);
  m_setup.Port = ntohs(address.sin_port);
  if (m_setup.Discovery) {
    CSimUnitIdentity identity;
    identity.HardwareAddress = m_setup.HardwareAddress;
    identity.IpAddress = address.sin_addr.s_addr;
    identity.SubnetMask = htonl(0xFFFFFF00);
    identity.DeviceType = m_setup.DeviceType;
    std::string name = m_setup.Name.empty() ? Identification().substr(0, Identification().find(' ')) : m_setup.Name;
    identity.Name = std::u16string(name.begin(), name.end());
    m_discovery = std::make_unique<CSimDiscoveryResponder>(identity);
    m_discovery->Start();
  }
}

void CSimZt7720::Stop() {
  if (m_discovery) m_discovery->Stop();
  m_server->Stop();
}

std::vector<CSimZt7720::Block> CSimZt7720::Blocks() const {
  std::lock_guard lock(m_mutex);
  return m_blocks;
}

std::uint32_t CSimZt7720::Ends() const {
  std::lock_guard lock(m_mutex);
  return m_ends;
}

bool CSimZt7720::WaitForEnds(std::uint32_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_endsChanged.wait_for(lock, timeout, [&] { return m_ends >= count; });
}

void CSimZt7720::Serve(int fd) {
  for (;;) {
    std::uint8_t command = 0;
    if (!SimReceiveExactly(fd, &command, 1)) return;
    if (command == 0xA2) {
      std::string text = Identification();
      SimSendAll(fd, text.c_str(), text.size() + 1);
    } else if (command == 0xA0) {
      std::uint8_t a[4];
      Block block;
      block.Data.resize(kBlockSize);
      if (!SimReceiveExactly(fd, a, 4) || !SimReceiveExactly(fd, block.Data.data(), kBlockSize)) return;
      block.Address = static_cast<std::uint32_t>(a[2] << 24 | a[3] << 16 | a[0] << 8 | a[1]);
      std::uint32_t number;
      {
        std::lock_guard lock(m_mutex);
        number = ++m_blocksSeen;
      }
      if (number == m_setup.DropAtBlock) return;
      if (number == m_setup.RefuseBlock) {
        SimSendAll(fd, "?", 1);
        continue;
      }
      {
        std::lock_guard lock(m_mutex);
        m_blocks.push_back(std::move(block));
      }
      SimSendAll(fd, "!", 1);
    } else if (command == 0xA1) {
      std::lock_guard lock(m_mutex);
      ++m_ends;
      // A programmed image that carries a version tag is the unit's firmware from now on.
      for (const Block& block : m_blocks) {
        if (auto version = FindFirmwareVersionTag(block.Data)) m_setup.FirmwareVersion = *version;
      }
      m_endsChanged.notify_all();
    }
    // Any other byte is not a command of the unit: it is ignored, as the unit's firmware does.
  }
}
