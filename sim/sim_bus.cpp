#include "sim/sim_bus.h"

#include <algorithm>
#include <system_error>

#include "sim/sim_error.h"

CSimBus::CSimBus(std::filesystem::path directory) : m_directory(std::move(directory)) {
  std::error_code error;
  std::filesystem::create_directories(m_directory, error);
  if (!std::filesystem::is_directory(m_directory)) {
    throw CSimError("cannot use the bus directory " + m_directory.string() +
                    (error ? ": " + error.message() : ""));
  }
}

CSimBus::~CSimBus() { StopAll(); }

void CSimBus::SetTranscriptDirectory(std::filesystem::path directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (!std::filesystem::is_directory(directory)) {
    throw CSimError("cannot use the transcript directory " + directory.string() +
                    (error ? ": " + error.message() : ""));
  }
  m_transcriptDirectory = std::move(directory);
}

CSimDeviceServer& CSimBus::Plug(std::unique_ptr<CSimDevice> device) {
  ++m_plugged;
  CSimUsbAddress address = device->Address();
  if (address.Serial.empty()) {
    address.Serial = "SIM" + std::to_string(m_plugged);
    device->SetAddress(address);
  }
  if (m_transcriptDirectory) {
    std::string path = address.DevicePath();
    device->Transcript().WriteTo(*m_transcriptDirectory / (path + ".transcript"),
                                 "transcript of " + path);
  }
  auto server = std::make_unique<CSimDeviceServer>(m_directory, std::move(device));
  server->Start();
  m_servers.push_back(std::move(server));
  return *m_servers.back();
}

void CSimBus::Unplug(CSimDeviceServer& server) {
  auto it = std::find_if(m_servers.begin(), m_servers.end(),
                         [&](const auto& owned) { return owned.get() == &server; });
  if (it == m_servers.end()) return;
  (*it)->Stop();
  m_servers.erase(it);
}

void CSimBus::StopAll() {
  for (auto& server : m_servers) server->Stop();
}

std::vector<CSimDeviceServer*> CSimBus::Servers() const {
  std::vector<CSimDeviceServer*> servers;
  for (const auto& server : m_servers) servers.push_back(server.get());
  return servers;
}

CSimDeviceServer* CSimBus::ServerOf(const CSimDevice& device) const {
  for (const auto& server : m_servers) {
    if (&server->Device() == &device) return server.get();
  }
  return nullptr;
}
