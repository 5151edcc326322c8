#include "sim/devices/zt7720/sim_zt7720.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/firmware_version_tag.h"
#include "platform/text_format.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"
#include "sim/sim_tcp_server.h"

namespace {

constexpr std::size_t kBlockSize = 4096;

}  // namespace

CSimZt7720::CSimZt7720(CSimZt7720Setup setup)
    : m_setup(std::move(setup)), m_server(std::make_unique<CSimTcpServer>([this](int fd) { Serve(fd); })) {
  m_faults.Arm(m_setup.Faults);
}

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
  CSimOptions parsed = ParseSimDeviceDescription("zt7720:" + options).Options;
  CSimZt7720Setup setup;
  if (auto type = parsed.TakeNumber("type", 0xFFFF)) setup.DeviceType = static_cast<std::uint16_t>(*type);
  if (auto model = parsed.TakeText("model")) setup.ModelCode = *model;
  if (auto firmware = parsed.TakeNumber("firmware", 0xFFFF)) setup.FirmwareVersion = static_cast<std::uint16_t>(*firmware);
  if (auto address = parsed.TakeText("address")) setup.Address = *address;
  if (auto port = parsed.TakeNumber("port", 0xFFFF)) setup.Port = static_cast<std::uint16_t>(*port);
  if (auto drop = parsed.TakeNumber("drop_at_block", 0xFFFFFFFF)) setup.DropAtBlock = static_cast<std::uint32_t>(*drop);
  if (auto discovery = parsed.TakeFlag("discovery")) setup.Discovery = *discovery;
  if (auto name = parsed.TakeText("name")) setup.Name = *name;
  // The unit's own word for the first generic fault: each block has one acknowledgement.
  const std::optional<std::uint64_t> refusedBlock = parsed.TakeNumber("refuse_block", 0xFFFFFFFF);
  setup.Faults = parsed.TakeFaults();
  if (refusedBlock && *refusedBlock > 0) setup.Faults.RefusedAcknowledgements.insert(static_cast<std::uint32_t>(*refusedBlock));
  if (std::vector<std::string> unused = parsed.Unused(); !unused.empty()) {
    throw CSimError("zt7720: unknown option " + unused.front());
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
  std::uint32_t connection;
  {
    std::lock_guard lock(m_mutex);
    connection = ++m_connections;
  }
  m_transcript.Add(connection, ESimEvent::Connect);
  const bool byHost = ServeCommands(fd, connection);
  // How far the counts stand: what a test places a fault by.
  m_transcript.Remark(m_faults.CountsRemark());
  m_transcript.Add(connection, byHost ? ESimEvent::HostClose : ESimEvent::DeviceClose);
}

bool CSimZt7720::Receive(int fd, std::uint32_t connection, std::uint8_t* buffer, std::size_t count, bool& droppedByUnit) {
  droppedByUnit = false;
  if (!SimReceiveExactly(fd, buffer, count)) return false;
  m_transcript.Add(connection, ESimEvent::Out, {buffer, buffer + count});
  switch (const ESimFaultAction action = m_faults.CountReceived(count)) {
    case ESimFaultAction::Close:
      m_transcript.Add(connection, ESimEvent::Note, {}, m_faults.FiredNote(action));
      droppedByUnit = true;
      return false;
    case ESimFaultAction::Stall: {
      m_transcript.Add(connection, ESimEvent::Note, {}, m_faults.FiredNote(action));
      // Silent from now on: what the host sends is read and dropped until it gives up.
      std::uint8_t scratch[4096];
      while (::recv(fd, scratch, sizeof scratch, 0) > 0) {
      }
      return false;
    }
    case ESimFaultAction::None:
      return true;
  }
  return true;
}

void CSimZt7720::Send(int fd, std::uint32_t connection, const std::vector<std::uint8_t>& bytes) {
  m_transcript.Add(connection, ESimEvent::In, bytes);
  SimSendAll(fd, bytes.data(), bytes.size());
}

bool CSimZt7720::ServeCommands(int fd, std::uint32_t connection) {
  bool droppedByUnit = false;
  for (;;) {
    std::uint8_t command = 0;
    if (!Receive(fd, connection, &command, 1, droppedByUnit)) return !droppedByUnit;
    if (command == 0xA2) {
      std::string text = m_faults.IdentityOverride().value_or(Identification());
      std::vector<std::uint8_t> answer(text.begin(), text.end());
      answer.push_back(0);
      Send(fd, connection, answer);
    } else if (command == 0xA0) {
      std::uint8_t a[4];
      Block block;
      block.Data.resize(kBlockSize);
      if (!Receive(fd, connection, a, 4, droppedByUnit) ||
          !Receive(fd, connection, block.Data.data(), kBlockSize, droppedByUnit)) {
        return !droppedByUnit;
      }
      block.Address = static_cast<std::uint32_t>(a[2] << 24 | a[3] << 16 | a[0] << 8 | a[1]);
      std::uint32_t number;
      {
        std::lock_guard lock(m_mutex);
        number = ++m_blocksSeen;
      }
      if (number == m_setup.DropAtBlock) {
        m_transcript.Add(connection, ESimEvent::Note, {}, FormatText("fault: connection dropped at block %u", number));
        return false;
      }
      const std::uint8_t answer = m_faults.NextAcknowledgement();
      if (answer == CSimFaults::kAcknowledge) {
        std::lock_guard lock(m_mutex);
        m_blocks.push_back(std::move(block));
      } else {
        m_transcript.Add(connection, ESimEvent::Note, {}, m_faults.RefusedNote());
      }
      Send(fd, connection, {answer});
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
