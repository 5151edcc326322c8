#include "support/emulated_usb_device.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "sim/sim_socket.h"

namespace {

bool SendAll(int fd, const std::uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t sent = ::send(fd, data + done, count - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

CEmulatedUsbDevice::CEmulatedUsbDevice(std::string directory, std::string devicePath,
                                       std::optional<std::string> friendlyName)
    : m_directory(std::move(directory)), m_devicePath(std::move(devicePath)) {
  m_socketPath = m_directory + "/" + m_devicePath;
  if (friendlyName) std::ofstream(m_socketPath + ".name") << *friendlyName << "\n";
  // The simulators' own socket code: the same bus contract, long paths included.
  m_listen = ListenOnUnixSocket(m_socketPath);
  if (::pipe(m_wake) != 0) {
    ::close(m_listen);
    throw std::runtime_error("cannot create the device's wake-up pipe");
  }
  m_thread = std::thread([this] { Run(); });
}

CEmulatedUsbDevice::~CEmulatedUsbDevice() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  char byte = 0;
  (void)!::write(m_wake[1], &byte, 1);
  m_thread.join();
  for (auto& link : m_links) ::close(link.fd);
  ::close(m_listen);
  ::close(m_wake[0]);
  ::close(m_wake[1]);
  ::unlink(m_socketPath.c_str());
  ::unlink((m_socketPath + ".name").c_str());
}

void CEmulatedUsbDevice::SetHandler(Handler handler) {
  std::lock_guard lock(m_mutex);
  m_handler = std::move(handler);
}

void CEmulatedUsbDevice::Send(const std::vector<Bytes>& frames) {
  std::lock_guard lock(m_mutex);
  if (m_links.empty()) return;
  SendFrames(m_links.back().fd, frames, m_links.back().number);
}

bool CEmulatedUsbDevice::SendFrames(int fd, const std::vector<Bytes>& frames, int number) {
  for (const auto& frame : frames) {
    const std::uint8_t prefix[2] = {static_cast<std::uint8_t>(frame.size() & 0xFF),
                                    static_cast<std::uint8_t>(frame.size() >> 8)};
    if (!SendAll(fd, prefix, 2) || !SendAll(fd, frame.data(), frame.size())) return false;
    m_transcript.push_back({number, false, frame});
  }
  return true;
}

bool CEmulatedUsbDevice::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  std::unique_lock lock(m_mutex);
  // `done` reads the device's state through its own accessors, so it runs unlocked.
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    lock.unlock();
    bool ready = done();
    lock.lock();
    if (ready) return true;
    if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
      lock.unlock();
      return done();
    }
  }
}

std::vector<CEmulatedUsbDevice::Frame> CEmulatedUsbDevice::Transcript() const {
  std::lock_guard lock(m_mutex);
  return m_transcript;
}

std::vector<CEmulatedUsbDevice::Bytes> CEmulatedUsbDevice::Received() const {
  std::lock_guard lock(m_mutex);
  std::vector<Bytes> frames;
  for (const auto& frame : m_transcript) {
    if (frame.toDevice) frames.push_back(frame.bytes);
  }
  return frames;
}

int CEmulatedUsbDevice::Connections() const {
  std::lock_guard lock(m_mutex);
  return m_connections;
}

int CEmulatedUsbDevice::Probes() const {
  std::lock_guard lock(m_mutex);
  return m_probes;
}

int CEmulatedUsbDevice::OpenConnections() const {
  std::lock_guard lock(m_mutex);
  return static_cast<int>(m_links.size());
}

int CEmulatedUsbDevice::Ejects() const {
  std::lock_guard lock(m_mutex);
  return m_ejects;
}

std::vector<CEmulatedUsbDevice::Bytes> CEmulatedUsbDevice::Packets(const std::string& bytes,
                                                                   std::size_t size) {
  std::vector<Bytes> packets;
  for (std::size_t at = 0; at < bytes.size(); at += size) {
    packets.push_back(ToBytes(bytes.substr(at, size)));
  }
  return packets;
}

void CEmulatedUsbDevice::Run() {
  for (;;) {
    std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
    {
      std::lock_guard lock(m_mutex);
      if (m_stop) return;
      for (const auto& link : m_links) fds.push_back({link.fd, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    if (fds[1].revents & POLLIN) Accept();
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      std::unique_lock lock(m_mutex);
      for (std::size_t l = 0; l < m_links.size(); ++l) {
        if (m_links[l].fd != fds[i].fd) continue;
        lock.unlock();
        bool keep = Serve(m_links[l]);
        lock.lock();
        if (!keep) Drop(m_links[l]);
        break;
      }
      m_changed.notify_all();
    }
  }
}

void CEmulatedUsbDevice::Accept() {
  int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::lock_guard lock(m_mutex);
  m_links.push_back({fd, ++m_connections, 0, {}});
  m_changed.notify_all();
}

void CEmulatedUsbDevice::Drop(Link& link) {
  // The caller holds the lock.
  if (link.frames == 0) ++m_probes;
  ::close(link.fd);
  int fd = link.fd;
  std::erase_if(m_links, [fd](const Link& l) { return l.fd == fd; });
}

bool CEmulatedUsbDevice::Serve(Link& link) {
  // Only this thread changes the links, so `link` stays valid while it runs.
  std::uint8_t buffer[4096];
  ssize_t got = ::recv(link.fd, buffer, sizeof(buffer), 0);
  if (got <= 0) return got < 0 && errno == EINTR;
  link.pending.insert(link.pending.end(), buffer, buffer + got);
  while (link.pending.size() >= 2) {
    std::size_t length = link.pending[0] | (link.pending[1] << 8);
    if (length == 0xFFFF) {
      std::lock_guard lock(m_mutex);
      ++m_ejects;
      ++link.frames;
      // Starting again drops every connection.
      for (auto& other : m_links) {
        if (other.fd != link.fd) ::shutdown(other.fd, SHUT_RDWR);
      }
      return false;
    }
    if (link.pending.size() < 2 + length) break;
    Bytes frame(link.pending.begin() + 2, link.pending.begin() + 2 + static_cast<long>(length));
    link.pending.erase(link.pending.begin(), link.pending.begin() + 2 + static_cast<long>(length));
    Handler handler;
    {
      std::lock_guard lock(m_mutex);
      ++link.frames;
      m_transcript.push_back({link.number, true, frame});
      handler = m_handler;
    }
    Reply reply = handler ? handler(frame) : Reply{};
    std::lock_guard lock(m_mutex);
    if (!SendFrames(link.fd, reply.frames, link.number) || reply.close) return false;
  }
  return true;
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
