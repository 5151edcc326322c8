#include "support/raw_usb_peer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

CRawUsbPeer::~CRawUsbPeer() { Close(); }

bool CRawUsbPeer::Connect(const std::filesystem::path& socket) {
  Close();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string text = socket.string();
  int directory = -1;
  if (text.size() >= sizeof address.sun_path) {
    // Deep folders: reach the socket through the directory's descriptor.
    directory = ::open(socket.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    text = "/proc/self/fd/" + std::to_string(directory) + "/" + socket.filename().string();
  }
  std::strncpy(address.sun_path, text.c_str(), sizeof address.sun_path - 1);
  m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int result = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  m_error = result == 0 ? 0 : errno;
  if (directory >= 0) ::close(directory);
  if (result != 0) Close();
  return result == 0;
}

void CRawUsbPeer::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void CRawUsbPeer::SendRaw(const std::vector<std::uint8_t>& bytes) {
  ASSERT_GE(m_fd, 0);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    ASSERT_GT(sent, 0) << std::strerror(errno);
    done += static_cast<std::size_t>(sent);
  }
}

void CRawUsbPeer::SendFrame(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> frame(2 + bytes.size());
  frame[0] = static_cast<std::uint8_t>(bytes.size() & 0xFF);
  frame[1] = static_cast<std::uint8_t>(bytes.size() >> 8);
  std::copy(bytes.begin(), bytes.end(), frame.begin() + 2);
  SendRaw(frame);
}

void CRawUsbPeer::SendEject() { SendRaw({0xFF, 0xFF}); }

bool CRawUsbPeer::ReceiveExactly(std::uint8_t* buffer, std::size_t count,
                                 std::chrono::steady_clock::time_point deadline,
                                 EReceive& failure) {
  std::size_t done = 0;
  while (done < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{m_fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) == 0) {
      failure = EReceive::Timeout;
      return false;
    }
    ssize_t got = ::recv(m_fd, buffer + done, count - done, 0);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      failure = EReceive::Closed;
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

CRawUsbPeer::EReceive CRawUsbPeer::Receive(std::vector<std::uint8_t>& frame,
                                           std::chrono::milliseconds bound) {
  if (m_fd < 0) return EReceive::Closed;
  auto deadline = std::chrono::steady_clock::now() + bound;
  EReceive failure = EReceive::Frame;
  std::uint8_t header[2];
  if (!ReceiveExactly(header, 2, deadline, failure)) return failure;
  frame.assign(header[0] | (header[1] << 8), 0);
  if (!ReceiveExactly(frame.data(), frame.size(), deadline, failure)) return failure;
  return EReceive::Frame;
}

std::vector<std::uint8_t> CRawUsbPeer::ReceiveFrame() {
  std::vector<std::uint8_t> frame;
  EReceive result = Receive(frame);
  EXPECT_EQ(result, EReceive::Frame) << (result == EReceive::Closed ? "closed" : "timed out");
  return result == EReceive::Frame ? frame : std::vector<std::uint8_t>{};
}

bool CRawUsbPeer::HasPendingData() const {
  pollfd fd{m_fd, POLLIN, 0};
  return m_fd >= 0 && ::poll(&fd, 1, 0) > 0;
}

bool CRawUsbPeer::WaitClosed(std::chrono::milliseconds bound) {
  auto deadline = std::chrono::steady_clock::now() + bound;
  std::vector<std::uint8_t> frame;
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    EReceive result = Receive(frame, left);
    if (result == EReceive::Closed) return true;
    if (result == EReceive::Timeout) return false;
  }
}
