#include "support/emulated_usb_device.h"

#include <unistd.h>

#include <cstdlib>

#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>

#include "sim/sim_device.h"
#include "sim/sim_device_server.h"

class CEmulatedUsbDevice::CHandlerDevice : public CSimDevice {
 public:
  explicit CHandlerDevice(CSimDeviceSetup setup) : CSimDevice(std::move(setup)) {}

  void SetHandler(Handler handler) {
    std::lock_guard lock(StateMutex());
    m_handler = std::move(handler);
  }

  // Every frame, an empty one too, goes to the handler; its answer goes back as it is.
  void RunProgram(CSimConnection& io) override {
    // The program starts with the first frame in; ReadFrame would pass over it if it is empty.
    bool first = true;
    for (;;) {
      Bytes frame = first && io.BytesLeftInFrame() == 0 ? Bytes{} : io.ReadFrame();
      first = false;
      Handler handler;
      {
        std::lock_guard lock(StateMutex());
        handler = m_handler;
      }
      Reply reply = handler ? handler(frame) : Reply{};
      for (const Bytes& packet : reply.frames) io.WriteOversizedPacket(packet);
      if (reply.close) throw CSimDisconnected();
    }
  }

 private:
  Handler m_handler;
};

namespace {

// The connections the transcript shows, with what happened on each.
struct CConnectionState {
  bool Closed = false;
  bool HadFrame = false;  // a frame or the reset request
};

std::map<std::uint32_t, CConnectionState> ConnectionsOf(const CSimTranscript::Entries_t& entries) {
  std::map<std::uint32_t, CConnectionState> connections;
  for (const CSimTranscriptEntry& entry : entries) {
    if (entry.Connection == 0) continue;
    CConnectionState& state = connections[entry.Connection];
    switch (entry.Event) {
      case ESimEvent::Out:
      case ESimEvent::Eject: state.HadFrame = true; break;
      case ESimEvent::HostClose:
      case ESimEvent::DeviceClose: state.Closed = true; break;
      default: break;
    }
  }
  return connections;
}

}  // namespace

CEmulatedUsbDevice::CEmulatedUsbDevice(const std::string& directory, const CSimUsbAddress& address,
                                       std::optional<std::string> friendlyName)
    : m_devicePath(address.DevicePath()) {
  CSimDeviceSetup setup{.Address = address, .FriendlyName = std::move(friendlyName), .AwayMilliseconds = 0};
  auto device = std::make_unique<CHandlerDevice>(std::move(setup));
  m_device = device.get();
  m_server = std::make_unique<CSimDeviceServer>(directory, std::move(device));
  m_server->Start();
}

CEmulatedUsbDevice::~CEmulatedUsbDevice() { m_server->Stop(); }

void CEmulatedUsbDevice::SetHandler(Handler handler) { m_device->SetHandler(std::move(handler)); }

const CSimTranscript& CEmulatedUsbDevice::SimTranscript() const { return m_device->Transcript(); }

bool CEmulatedUsbDevice::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  // Every change these tests look at adds to the transcript, so it is what is waited on;
  // `done` reads through the accessors, outside the transcript's lock.
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::size_t seen = SimTranscript().Entries().size();
    if (done()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    SimTranscript().WaitFor([seen](const CSimTranscript::Entries_t& entries) { return entries.size() > seen; }, left);
  }
}

std::vector<CEmulatedUsbDevice::Frame> CEmulatedUsbDevice::Transcript() const {
  std::vector<Frame> frames;
  for (const CSimTranscriptEntry& entry : SimTranscript().Entries()) {
    if (entry.Event == ESimEvent::Out || entry.Event == ESimEvent::In) {
      frames.push_back({entry.Connection, entry.Event == ESimEvent::Out, entry.Bytes});
    }
  }
  return frames;
}

std::vector<CEmulatedUsbDevice::Bytes> CEmulatedUsbDevice::Received() const {
  return SimTranscript().Frames(ESimEvent::Out);
}

int CEmulatedUsbDevice::Connections() const {
  return static_cast<int>(SimTranscript().Count(ESimEvent::Connect));
}

int CEmulatedUsbDevice::Probes() const {
  int probes = 0;
  for (const auto& [id, state] : ConnectionsOf(SimTranscript().Entries())) probes += state.Closed && !state.HadFrame;
  return probes;
}

int CEmulatedUsbDevice::OpenConnections() const {
  int open = 0;
  for (const auto& [id, state] : ConnectionsOf(SimTranscript().Entries())) open += !state.Closed;
  return open;
}

int CEmulatedUsbDevice::Ejects() const { return static_cast<int>(SimTranscript().Count(ESimEvent::Eject)); }

std::vector<CEmulatedUsbDevice::Bytes> CEmulatedUsbDevice::Packets(const std::string& bytes, std::size_t size) {
  std::vector<Bytes> packets;
  for (std::size_t at = 0; at < bytes.size(); at += size) packets.push_back(ToBytes(bytes.substr(at, size)));
  return packets;
}

CTempBusDirectory::CTempBusDirectory() {
  char pattern[] = "/tmp/tvbus-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a bus directory");
  m_path = pattern;
}

CTempBusDirectory::~CTempBusDirectory() {
  std::error_code error;
  std::filesystem::remove_all(m_path, error);
}
