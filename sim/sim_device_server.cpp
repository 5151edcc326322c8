#include "sim/sim_device_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/clock.h"
#include "platform/text_format.h"
#include "sim/sim_error.h"
#include "sim/sim_socket.h"

namespace {

std::filesystem::path NamePath(const std::filesystem::path& socketPath) {
  return socketPath.string() + ".name";
}

// Writes the friendly name so that it appears whole: into a side file, then renamed.
void WriteNameFile(const std::filesystem::path& path, const std::string& name) {
  std::filesystem::path temporary = path.string() + ".tmp";
  {
    std::ofstream file(temporary, std::ios::out | std::ios::trunc | std::ios::binary);
    file << name << '\n';
    if (!file.flush()) throw CSimError("cannot write " + temporary.string());
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) throw CSimError("cannot write " + path.string() + ": " + error.message());
}

void RemoveQuietly(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace

CSimDeviceServer::CSimDeviceServer(std::filesystem::path busDirectory,
                                   std::unique_ptr<CSimDevice> device)
    : m_busDirectory(std::move(busDirectory)), m_device(std::move(device)) {
  m_devicePath = m_device->Address().DevicePath();
}

CSimDeviceServer::~CSimDeviceServer() {
  Stop();
  if (m_wakeFd >= 0) ::close(m_wakeFd);
}

std::string CSimDeviceServer::DevicePath() const {
  std::lock_guard lock(m_mutex);
  return m_devicePath;
}

std::filesystem::path CSimDeviceServer::SocketPath() const { return m_busDirectory / DevicePath(); }

ESimPresence CSimDeviceServer::Presence() const {
  std::lock_guard lock(m_mutex);
  return m_presence;
}

std::uint32_t CSimDeviceServer::Reenumerations() const {
  std::lock_guard lock(m_mutex);
  return m_reenumerations;
}

bool CSimDeviceServer::WaitForReenumerations(std::uint32_t count,
                                             std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_reenumerations >= count; });
}

void CSimDeviceServer::SetPresence(ESimPresence presence, bool comeback) {
  std::lock_guard lock(m_mutex);
  m_presence = presence;
  if (comeback) ++m_reenumerations;
  m_changed.notify_all();
}

void CSimDeviceServer::Start() {
  if (m_thread.joinable()) return;
  CSimUsbAddress address = m_device->Address();
  if (!IsValidSimSerial(address.Serial)) {
    throw CSimError("invalid serial \"" + address.Serial +
                    "\" (letters, digits, '-' and '_' only)");
  }
  if (m_wakeFd < 0) {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) throw CSimError(FormatText("eventfd: %s", std::strerror(errno)));
  }
  Enter();
  SetPresence(ESimPresence::Present);
  m_stopRequested = false;
  m_thread = std::thread([this] { ServeLoop(); });
}

void CSimDeviceServer::Enter() {
  std::string devicePath = m_device->Address().DevicePath();
  {
    std::lock_guard lock(m_mutex);
    m_devicePath = devicePath;
  }
  std::filesystem::path socketPath = m_busDirectory / devicePath;
  std::error_code error;
  if (std::filesystem::symlink_status(socketPath, error).type() !=
      std::filesystem::file_type::not_found) {
    if (IsUnixSocketServed(socketPath)) {
      throw CSimError("another program serves " + socketPath.string() + " already");
    }
    RemoveQuietly(socketPath);  // left behind by a program that ended without cleaning up
  }
  std::optional<std::string> name = m_device->FriendlyName();
  if (name) {
    WriteNameFile(NamePath(socketPath), *name);
  } else {
    RemoveQuietly(NamePath(socketPath));
  }
  // The socket listens under a side name first and is renamed into place, so a host never
  // finds the device path before it accepts connections.
  std::filesystem::path pending = socketPath.string() + ".new";
  RemoveQuietly(pending);
  int fd = -1;
  try {
    fd = ListenOnUnixSocket(pending);
  } catch (const CSimError&) {
    RemoveQuietly(NamePath(socketPath));
    throw;
  }
  std::filesystem::rename(pending, socketPath, error);
  if (error) {
    ::close(fd);
    RemoveQuietly(pending);
    RemoveQuietly(NamePath(socketPath));
    throw CSimError("cannot place the socket " + socketPath.string() + ": " + error.message());
  }
  m_listenFd = fd;
}

void CSimDeviceServer::Leave() {
  std::filesystem::path socketPath = SocketPath();
  RemoveQuietly(socketPath);
  RemoveQuietly(NamePath(socketPath));
  if (m_listenFd >= 0) {
    ::close(m_listenFd);
    m_listenFd = -1;
  }
}

void CSimDeviceServer::Wake() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

void CSimDeviceServer::RequestEject() {
  m_ejectRequested = true;
  Wake();
}

void CSimDeviceServer::ServeLoop() {
  while (!m_stopRequested) {
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}};
    int count = m_listenFd >= 0 ? 2 : 1;
    if (::poll(fds, static_cast<nfds_t>(count), -1) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      std::uint64_t value;
      [[maybe_unused]] ssize_t got = ::read(m_wakeFd, &value, sizeof value);
    }
    if (m_stopRequested) break;
    if (m_ejectRequested) {
      Eject();
      continue;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) Accept();
    ReapFinished();
  }
}

void CSimDeviceServer::Accept() {
  int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  auto connection = std::make_unique<Connection>();
  connection->Fd = fd;
  Connection& added = *connection;
  {
    std::lock_guard lock(m_mutex);
    connection->Id = m_nextConnectionId++;
    m_connections.push_back(std::move(connection));
  }
  added.Thread = std::thread([this, &added] { RunConnection(added); });
}

void CSimDeviceServer::RunConnection(Connection& connection) {
  CSimTranscript& transcript = m_device->Transcript();
  transcript.Add(connection.Id, ESimEvent::Connect);
  CSimConnection io(*m_device, connection.Fd, connection.Id);
  if (io.Begin()) {
    AwaitClosedPredecessors(connection);
    try {
      m_device->RunProgram(io);
      io.DrainUntilClosed();  // the program has said all it will: silent until the host closes
    } catch (const CSimDisconnected&) {
    } catch (const std::exception& failure) {
      transcript.Add(connection.Id, ESimEvent::Note, {},
                     std::string("device program failed: ") + failure.what());
    } catch (...) {
      transcript.Add(connection.Id, ESimEvent::Note, {}, "device program failed");
    }
  }
  if (io.EjectRequested()) AwaitReset(connection);
  // How far the device's counts stand: what a test arms a fault at a given point by.
  transcript.Remark(m_device->Faults().CountsRemark());
  {
    std::lock_guard lock(m_mutex);
    bool byDevice = connection.Dropped || io.ClosedByDevice();
    // Closed first: whoever reads the close in the transcript finds the connection gone.
    ::close(connection.Fd);
    connection.Fd = -1;
    transcript.Add(connection.Id, byDevice ? ESimEvent::DeviceClose : ESimEvent::HostClose);
  }
  {
    std::lock_guard lock(m_mutex);
    connection.Finished = true;
  }
  m_changed.notify_all();
  Wake();
}

// A device serves its host in order: what the host sent before it closed a connection is
// taken before anything of a connection it opened afterwards. Each connection has a thread of
// its own here, so a new one waits (bounded) for the programs of earlier connections whose
// host has already gone; otherwise a host that meets the device again right after a download
// could be answered before the device had taken the download's last bytes.
void CSimDeviceServer::AwaitClosedPredecessors(const Connection& connection) {
  std::unique_lock lock(m_mutex);
  auto hostGone = [](const Connection& earlier) {
    if (earlier.Fd < 0) return false;
    pollfd fd{earlier.Fd, POLLRDHUP, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLRDHUP | POLLHUP)) != 0;
  };
  m_changed.wait_for(lock, std::chrono::seconds(5), [&] {
    return m_stopRequested || std::none_of(m_connections.begin(), m_connections.end(), [&](const auto& earlier) {
             return earlier->Id < connection.Id && !earlier->Finished && !earlier->Resetting && hostGone(*earlier);
           });
  });
}

// The connection that sent the eject frame is closed only once the reset is over: the device
// has left the bus and, after its away time, come back. A host that waits for that close
// never opens the device it has just reset, and finds it back at once, however fast either
// side runs (with no away time and no reset wait, as in a simulated setup at wait scale 0).
void CSimDeviceServer::AwaitReset(Connection& connection) {
  std::unique_lock lock(m_mutex);
  const std::uint32_t ended = m_resetsEnded;
  connection.Resetting = true;
  RequestEject();
  m_changed.wait(lock, [&] { return m_resetsEnded != ended || m_stopRequested; });
}

void CSimDeviceServer::DropConnections(bool all) {
  std::list<std::unique_ptr<Connection>> dropped;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
      Connection& connection = **it;
      if (connection.Resetting && !all) {
        ++it;
        continue;
      }
      if (connection.Fd >= 0) {
        connection.Dropped = true;
        ::shutdown(connection.Fd, SHUT_RDWR);
      }
      dropped.push_back(std::move(*it));
      it = m_connections.erase(it);
    }
  }
  for (auto& connection : dropped) connection->Thread.join();
}

void CSimDeviceServer::ReapFinished() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
      if ((*it)->Finished) {
        finished.push_back(std::move(*it));
        it = m_connections.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : finished) connection->Thread.join();
}

void CSimDeviceServer::Eject() {
  Leave();
  SetPresence(ESimPresence::Away);
  m_device->Transcript().Add(0, ESimEvent::Away);
  DropConnections(false);
  m_ejectRequested = false;  // every connection is gone: a second reset frame changes nothing
  ComeBack();
  std::lock_guard lock(m_mutex);
  ++m_resetsEnded;
  m_changed.notify_all();
}

void CSimDeviceServer::ComeBack() {
  // A device without an away time comes straight back, with no wait on the clock at all.
  if (m_device->AwayMilliseconds() > 0) Clock().Sleep(m_device->AwayMilliseconds());
  if (m_stopRequested) return;
  try {
    m_device->Reenumerate();
    Enter();
  } catch (const std::exception& failure) {
    m_device->Transcript().Add(0, ESimEvent::Note, {},
                               std::string("could not come back: ") + failure.what());
    return;
  }
  m_device->Transcript().Add(0, ESimEvent::Back, {}, DevicePath());
  SetPresence(ESimPresence::Present, true);
}

void CSimDeviceServer::Stop() {
  if (m_thread.joinable()) {
    m_stopRequested = true;
    {
      std::lock_guard lock(m_mutex);
      m_changed.notify_all();  // a connection waiting for its reset to end
    }
    Wake();
    m_thread.join();
  }
  DropConnections(true);
  if (Presence() != ESimPresence::Stopped) {
    Leave();
    SetPresence(ESimPresence::Stopped);
  }
}
