#include "sim/devices/zt7720/sim_zt7720.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/firmware_version_tag.h"
#include "sim/sim_error.h"

namespace {

constexpr std::size_t kBlockSize = 4096;

bool ReceiveExactly(int fd, std::uint8_t* buffer, std::size_t count) {
  while (count > 0) {
    ssize_t got = ::recv(fd, buffer, count, 0);
    if (got <= 0) return false;
    buffer += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

void Send(int fd, const void* data, std::size_t count) { ::send(fd, data, count, MSG_NOSIGNAL); }

std::uint32_t ParseNumber(const std::string& key, const std::string& text, std::uint32_t max) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || value > max) throw CSimError("zt7720: bad value for " + key + ": " + text);
  return static_cast<std::uint32_t>(value);
}

}  // namespace

CSimZt7720::CSimZt7720(CSimZt7720Setup setup) : m_setup(std::move(setup)) {}

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
  m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(m_setup.Port);
  if (m_listen < 0 || ::inet_pton(AF_INET, m_setup.Address.c_str(), &address.sin_addr) != 1 ||
      ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_listen, 4) != 0) {
    if (m_listen >= 0) ::close(m_listen);
    m_listen = -1;
    throw CSimError("zt7720: cannot listen on " + m_setup.Address + ":" + std::to_string(m_setup.Port));
  }
  socklen_t size = sizeof address;
  ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
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
  m_thread = std::thread([this] { ServeLoop(); });
}

void CSimZt7720::Stop() {
  if (m_discovery) m_discovery->Stop();
  if (m_listen < 0) return;
  m_stopping = true;
  ::shutdown(m_listen, SHUT_RDWR);
  if (int client = m_client.load(); client >= 0) ::shutdown(client, SHUT_RDWR);
  if (m_thread.joinable()) m_thread.join();
  ::close(m_listen);
  m_listen = -1;
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

void CSimZt7720::ServeLoop() {
  while (!m_stopping) {
    int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    m_client = fd;
    if (m_stopping) ::shutdown(fd, SHUT_RDWR);
    Serve(fd);
    m_client = -1;
    ::close(fd);
  }
}

void CSimZt7720::Serve(int fd) {
  for (;;) {
    std::uint8_t command = 0;
    if (!ReceiveExactly(fd, &command, 1)) return;
    if (command == 0xA2) {
      std::string text = Identification();
      Send(fd, text.c_str(), text.size() + 1);
    } else if (command == 0xA0) {
      std::uint8_t a[4];
      Block block;
      block.Data.resize(kBlockSize);
      if (!ReceiveExactly(fd, a, 4) || !ReceiveExactly(fd, block.Data.data(), kBlockSize)) return;
      block.Address = static_cast<std::uint32_t>(a[2] << 24 | a[3] << 16 | a[0] << 8 | a[1]);
      std::uint32_t number;
      {
        std::lock_guard lock(m_mutex);
        number = ++m_blocksSeen;
      }
      if (number == m_setup.DropAtBlock) return;
      if (number == m_setup.RefuseBlock) {
        Send(fd, "?", 1);
        continue;
      }
      {
        std::lock_guard lock(m_mutex);
        m_blocks.push_back(std::move(block));
      }
      Send(fd, "!", 1);
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
