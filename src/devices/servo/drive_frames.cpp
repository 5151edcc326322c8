// The frame exchange with the drive: the control unit opens and closes its link to the drive's
// field bus and passes single frames both ways.

#include "devices/servo/drive.h"

namespace {

constexpr std::uint8_t kOpenLinkCommand = 0xC1;
constexpr std::uint8_t kCloseLinkCommand = 0xC2;
constexpr std::uint8_t kSendFrameCommand = 0xC3;
constexpr std::uint8_t kReceiveFrameCommand = 0xC4;

}  // namespace

bool CDrive::OpenDriveLink() { return LinkCommand(kOpenLinkCommand); }

bool CDrive::CloseDriveLink() { return LinkCommand(kCloseLinkCommand); }

bool CDrive::SendFrame(const CanFrame& frame) {
  if (!m_stream || !m_stream->IsOpen()) return false;
  // The drive listens on its request identifier only, so that is what every frame carries.
  std::uint8_t request[1 + 2 + 1 + sizeof frame.Data] = {
      kSendFrameCommand, static_cast<std::uint8_t>(m_requestIdentifier >> 8),
      static_cast<std::uint8_t>(m_requestIdentifier), frame.Length};
  std::copy(std::begin(frame.Data), std::end(frame.Data), request + 4);
  m_stream->BeginWriteBuffer();
  m_stream->Write(request, sizeof request);
  m_stream->EndWriteBuffer();
  return m_stream->ReadByte() == CStreamIO::kAck;
}

bool CDrive::ReceiveFrame(CanFrame& frame, unsigned timeoutMs) {
  if (!m_stream || !m_stream->IsOpen()) return false;
  const std::uint8_t request[] = {kReceiveFrameCommand, static_cast<std::uint8_t>(timeoutMs >> 8),
                                  static_cast<std::uint8_t>(timeoutMs)};
  m_stream->BeginWriteBuffer();
  m_stream->Write(request, sizeof request);
  m_stream->EndWriteBuffer();
  // Anything but "!" is the unit's "nothing arrived in time"; no frame follows it.
  if (m_stream->ReadByte() != CStreamIO::kAck) return false;
  CanFrame received;
  received.Identifier = m_stream->ReadWord();
  received.Length = m_stream->ReadByte();
  m_stream->Read(received.Data, sizeof received.Data);
  frame = received;
  return true;
}

bool CDrive::LinkCommand(std::uint8_t command) {
  if (!m_stream || !m_stream->IsOpen()) return false;
  m_stream->WriteByte(command);
  return m_stream->ReadByte() == CStreamIO::kAck;
}
