#include "sim/sim_connection.h"

#include <sys/socket.h>

#include <cerrno>
#include <stdexcept>

#include "platform/clock.h"
#include "platform/text_format.h"
#include "sim/sim_device.h"

CSimConnection::CSimConnection(CSimDevice& device, int fd, std::uint32_t id)
    : m_device(device), m_fd(fd), m_id(id) {}

bool CSimConnection::ReceiveExactly(std::uint8_t* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t got = ::recv(m_fd, buffer + done, count - done, 0);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      return false;  // closed by the host, or shut down by the server
    }
  }
  return true;
}

void CSimConnection::DropByDevice(const std::string& why) {
  m_device.Transcript().Add(m_id, ESimEvent::Note, {}, why);
  m_closedByDevice = true;
  m_closed = true;
  ::shutdown(m_fd, SHUT_RDWR);
}

void CSimConnection::FetchFrame() {
  if (m_closed) throw CSimDisconnected();
  std::uint8_t header[2];
  if (!ReceiveExactly(header, sizeof header)) {
    m_closed = true;
    throw CSimDisconnected();
  }
  std::size_t length = header[0] | (header[1] << 8);
  if (length == kEjectLength) {
    // The reset request: the device leaves the bus. Nothing follows it on this connection.
    m_device.Transcript().Add(m_id, ESimEvent::Eject);
    m_ejectRequested = true;
    m_closedByDevice = true;
    m_closed = true;
    throw CSimDisconnected();
  }
  if (length > kMaxOutFrame) {
    m_device.ReportViolation(
        m_id, FormatText("host frame of %zu bytes (at most %zu)", length, kMaxOutFrame));
    DropByDevice("dropped after an over-long frame");
    throw CSimDisconnected();
  }
  std::vector<std::uint8_t> frame(length);
  if (!ReceiveExactly(frame.data(), length)) {
    m_closed = true;
    throw CSimDisconnected();
  }
  m_device.Transcript().Add(m_id, ESimEvent::Out, frame);
  m_frame = std::move(frame);
  m_position = 0;

  switch (const ESimFaultAction action = m_device.Faults().CountReceived(length)) {
    case ESimFaultAction::Close:
      DropByDevice(m_device.Faults().FiredNote(action));
      throw CSimDisconnected();
    case ESimFaultAction::Stall:
      m_stalled = true;
      m_device.Transcript().Add(m_id, ESimEvent::Note, {}, m_device.Faults().FiredNote(action));
      break;
    case ESimFaultAction::None:
      break;
  }
}

bool CSimConnection::Begin() {
  try {
    FetchFrame();
    return true;
  } catch (const CSimDisconnected&) {
    return false;
  }
}

std::vector<std::uint8_t> CSimConnection::ReadBytes(std::size_t n) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(n);
  while (bytes.size() < n) {
    if (m_position >= m_frame.size()) FetchFrame();
    std::size_t take = std::min(n - bytes.size(), m_frame.size() - m_position);
    bytes.insert(bytes.end(), m_frame.begin() + static_cast<std::ptrdiff_t>(m_position),
                 m_frame.begin() + static_cast<std::ptrdiff_t>(m_position + take));
    m_position += take;
  }
  return bytes;
}

std::uint8_t CSimConnection::ReadByte() {
  while (m_position >= m_frame.size()) FetchFrame();
  return m_frame[m_position++];
}

std::vector<std::uint8_t> CSimConnection::ReadFrame() {
  if (m_position >= m_frame.size()) FetchFrame();
  std::vector<std::uint8_t> rest(m_frame.begin() + static_cast<std::ptrdiff_t>(m_position),
                                 m_frame.end());
  m_position = m_frame.size();
  return rest;
}

std::vector<std::uint8_t> CSimConnection::ReadPacket(std::size_t n) {
  while (n > 0 && m_position >= m_frame.size()) FetchFrame();  // skips empty frames
  bool whole = m_position == 0 && m_frame.size() == n;
  std::size_t frameSize = m_frame.size();
  std::size_t offset = m_position;
  std::vector<std::uint8_t> bytes = ReadBytes(n);
  if (!whole) {
    ReportViolation(
        FormatText("expected %zu bytes as one packet, they began at offset %zu of a "
                   "frame of %zu bytes",
                   n, offset, frameSize));
  }
  return bytes;
}

void CSimConnection::SendFrame(std::span<const std::uint8_t> bytes) {
  if (m_closed) throw CSimDisconnected();
  if (m_stalled) Stall(bytes.size());
  m_device.Transcript().Add(m_id, ESimEvent::In, {bytes.begin(), bytes.end()});
  std::vector<std::uint8_t> buffer(2 + bytes.size());
  buffer[0] = static_cast<std::uint8_t>(bytes.size() & 0xFF);
  buffer[1] = static_cast<std::uint8_t>(bytes.size() >> 8);
  std::copy(bytes.begin(), bytes.end(), buffer.begin() + 2);
  std::size_t total = buffer.size();
  std::size_t done = 0;
  while (done < total) {
    ssize_t sent = ::send(m_fd, buffer.data() + done, total - done, MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      m_device.Transcript().Add(m_id, ESimEvent::Note, {}, "the frame above was not delivered");
      m_closed = true;
      throw CSimDisconnected();
    }
  }
}

void CSimConnection::WritePacket(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kMaxInPacket) {
    throw std::invalid_argument(
        FormatText("IN packet of %zu bytes (at most %zu)", bytes.size(), kMaxInPacket));
  }
  SendFrame(bytes);
}

void CSimConnection::WriteOversizedPacket(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= kEjectLength) throw std::invalid_argument("a packet the bus cannot frame");
  SendFrame(bytes);
}

void CSimConnection::WriteBytes(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    std::size_t take = std::min(bytes.size(), kMaxInPacket);
    SendFrame(bytes.first(take));
    bytes = bytes.subspan(take);
  }
}

void CSimConnection::WriteBytes(std::initializer_list<std::uint8_t> bytes) {
  WriteBytes(std::span<const std::uint8_t>(bytes.begin(), bytes.size()));
}

void CSimConnection::WriteString(std::string_view text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  WriteBytes(bytes);
}

std::uint8_t CSimConnection::NextAcknowledgement() {
  std::uint8_t answer = m_device.Faults().NextAcknowledgement();
  if (answer != CSimFaults::kAcknowledge) {
    m_device.Transcript().Add(m_id, ESimEvent::Note, {}, m_device.Faults().RefusedNote());
  }
  return answer;
}

bool CSimConnection::Acknowledge() {
  std::uint8_t answer = NextAcknowledgement();
  WritePacket(std::span<const std::uint8_t>(&answer, 1));
  return answer == CSimFaults::kAcknowledge;
}

void CSimConnection::Refuse() { WriteBytes({CSimFaults::kRefuse}); }

void CSimConnection::Wait(std::uint32_t milliseconds) { Clock().Sleep(milliseconds); }

void CSimConnection::ReportViolation(const std::string& text) {
  m_device.ReportViolation(m_id, text);
}

void CSimConnection::Stall(std::size_t withheld) {
  m_device.Transcript().Add(m_id, ESimEvent::Note, {},
                            FormatText("stalled: %zu bytes not sent", withheld));
  DrainUntilClosed();
  throw CSimDisconnected();
}

void CSimConnection::DrainUntilClosed() {
  try {
    while (true) {
      m_position = m_frame.size();
      FetchFrame();
    }
  } catch (const CSimDisconnected&) {
  }
}
