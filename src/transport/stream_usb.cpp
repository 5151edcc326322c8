#include "transport/stream_usb.h"

#include <algorithm>
#include <chrono>

#include "platform/clock.h"
#include "platform/connected_device.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "platform/wait_cursor.h"
#include "platform/wire_trace.h"
#include "transport/dev_node_helper.h"
#include "transport/usb_init_failed_dlg.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

CStreamUSB::CStreamUSB() : CStreamUSB(false) {}

CStreamUSB::CStreamUSB(bool secondGeneration) : m_secondGeneration(secondGeneration) {}

CStreamUSB::~CStreamUSB() {
  if (IsOpen() && ReleaseOpen() == 0) ReleaseHandles();
}

int CStreamUSB::QueryInitFailure(bool allowSimulation, bool allowExit) {
  CUsbInitFailedDlg dialog(allowSimulation, allowExit, GetProductName());
  return dialog.DoModal();
}

std::string CStreamUSB::GetPipeName(bool input) { return input ? "PIPE02" : "PIPE03"; }

std::string CStreamUSB::GetInterfaceGuid() {
  return m_secondGeneration ? kUsbSecondGenerationGuid : kUsbFirstGenerationGuid;
}

std::string CStreamUSB::MatchingText() { return FormatText("pid_%04x", GetProductId()); }

bool CStreamUSB::Open() {
  CWaitCursor waitCursor;
  if (IsOpen()) {
    AddOpen();
    return true;
  }
  IUsbBus& bus = UsbBus();
  if (!Search(bus)) {
    if (!m_deniedPath.empty()) {
      UserInterface().MessageBox(
          FormatMessage(LoadResString(kPermissionMessage), {GetProductName(), m_deniedPath}),
          MB_OK | MB_ICONWARNING);
    }
    return false;
  }
  AddOpen();
  return true;
}

bool CStreamUSB::Search(IUsbBus& bus) {
  m_deniedPath.clear();
  return m_secondGeneration ? SearchSecondGeneration(bus) : SearchFirstGeneration(bus);
}

bool CStreamUSB::SearchFirstGeneration(IUsbBus& bus) {
  // Without a list there is nothing to enumerate: fail rather than try index after index.
  auto list = bus.ListInterfaces(GetInterfaceGuid());
  if (!list) return false;
  const std::string match = MatchingText();
  for (unsigned index = 0; index < kMaxInterfaceIndex; ++index) {
    std::string path;
    UsbEnumResult result = list->Interface(index, path);
    if (result == UsbEnumResult::kNoMoreItems) return false;
    if (result != UsbEnumResult::kOk || !Contains(path, match)) continue;

    UsbOpenError error = UsbOpenError::kNone;
    if (!bus.Open(path, UsbAccess::kReadWrite, &error)) {  // the probe, closed at once
      NoteOpenFailure(path, error);
      continue;
    }
    std::shared_ptr<IUsbHandle> read = bus.Open(path + "\\" + GetPipeName(true), UsbAccess::kRead, &error);
    if (!read) {
      NoteOpenFailure(path, error);
      continue;
    }
    std::shared_ptr<IUsbHandle> write = bus.Open(path + "\\" + GetPipeName(false), UsbAccess::kWrite, &error);
    if (!write) {
      NoteOpenFailure(path, error);
      continue;  // the read handle closes here
    }
    list.reset();
    Opened(bus, path, std::move(read), std::move(write));
    Clock().Sleep(m_openDelay);
    return true;
  }
  return false;
}

bool CStreamUSB::SearchSecondGeneration(IUsbBus& bus) {
  auto list = bus.ListInterfaces(GetInterfaceGuid());
  if (!list) return false;
  const std::string match = MatchingText();
  for (unsigned index = 0; index < kMaxInterfaceIndex; ++index) {
    std::string path;
    if (list->Interface(index, path) != UsbEnumResult::kOk) return false;
    if (!Contains(path, match)) continue;
    UsbOpenError error = UsbOpenError::kNone;
    std::shared_ptr<IUsbHandle> handle = bus.Open(path, UsbAccess::kReadWrite, &error);
    if (!handle) {
      NoteOpenFailure(path, error);
      continue;
    }
    list.reset();
    // This driver generation waits the open delay only on one operating-system version
    // (6.0); on Linux it never applies.
    Opened(bus, path, handle, handle);
    return true;
  }
  return false;
}

void CStreamUSB::Opened(IUsbBus& bus, const std::string& path, std::shared_ptr<IUsbHandle> read,
                        std::shared_ptr<IUsbHandle> write) {
  m_bus = &bus;
  m_devicePath = path;
  NoteConnectedDevice({bus.StableId(path), path});
  m_read = std::move(read);
  m_write = std::move(write);
  TraceEvent(m_devicePath, m_secondGeneration ? "open" : "open PIPE02/PIPE03");
}

void CStreamUSB::NoteOpenFailure(const std::string& path, UsbOpenError error) {
  if (error == UsbOpenError::kPermissionDenied) m_deniedPath = path;
}

void CStreamUSB::ReleaseHandles() {
  TraceEvent(m_devicePath, "close");
  m_read.reset();
  m_write.reset();
  m_devicePath.clear();
  m_bus = nullptr;
}

void CStreamUSB::Close() {
  if (IsOpen() && ReleaseOpen() == 0) ReleaseHandles();
}

void CStreamUSB::FetchPacket() {
  m_inputPosition = 0;
  m_inputCount = 0;
  // Empty packets are read again, but not for longer than one read may wait: a device that
  // sends nothing but empty packets is as dead as one that sends nothing.
  auto deadline = std::chrono::steady_clock::now() + m_bus->ReadBound();
  for (;;) {
    long got = m_read->ReadPacket(m_input, kPacketSize);
    if (got < 0) {
      TraceEvent(m_devicePath, "IN   read error");
      ThrowStreamException(kReadError);
    }
    TraceTransfer(m_devicePath, WireDirection::kIn, m_input, static_cast<std::size_t>(got));
    if (got > 0) {
      m_inputCount = static_cast<unsigned>(std::min<long>(got, kPacketSize));
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      TraceEvent(m_devicePath, "IN   only empty packets within the read bound");
      ThrowStreamException(kReadError);
    }
  }
}

void CStreamUSB::Read(std::uint8_t* buffer, unsigned count) {
  if (!IsOpen()) return;
  unsigned delivered = 0;
  do {
    if (m_inputPosition >= m_inputCount) FetchPacket();
    unsigned take = std::min(count - delivered, m_inputCount - m_inputPosition);
    std::copy_n(m_input + m_inputPosition, take, buffer + delivered);
    m_inputPosition += take;
    delivered += take;
  } while (delivered < count);
}

void CStreamUSB::SendUnbuffered(const std::uint8_t* buffer, unsigned count) {
  unsigned sent = 0;
  do {
    unsigned chunk = std::min(count - sent, kWriteChunk);
    long written = m_write->WritePacket(buffer + sent, chunk);
    if (written < 0) {
      TraceEvent(m_devicePath, FormatText("OUT  %u  write error", chunk));
      ThrowStreamException(kWriteError);
    }
    TraceTransfer(m_devicePath, WireDirection::kOut, buffer + sent, static_cast<std::size_t>(written));
    if (static_cast<unsigned long>(written) < chunk) ThrowStreamException(kWriteError);
    sent += chunk;
  } while (sent < count);
}

void CStreamUSB::Write(const std::uint8_t* buffer, unsigned count) {
  if (!IsOpen()) return;
  if (!m_writeBuffered) {
    SendUnbuffered(buffer, count);
    return;
  }
  for (unsigned i = 0; i < count; ++i) {
    if (m_outputCount == kWriteBufferSize) {
      SendUnbuffered(m_output, kWriteBufferSize);
      m_outputCount = 0;
    }
    m_output[m_outputCount++] = buffer[i];
  }
}

void CStreamUSB::ClearInput() {
  m_inputPosition = 0;
  m_inputCount = 0;
}

void CStreamUSB::EndWriteBuffer() {
  m_writeBuffered = false;
  if (m_outputCount == 0) return;
  if (IsOpen()) SendUnbuffered(m_output, m_outputCount);
  m_outputCount = 0;
}

bool CStreamUSB::ResetDevice() {
  CWaitCursor waitCursor;
  Close();
  std::string pattern = GetProductName();
  int ejected = EjectDevice(pattern);  // whatever it says, the device gets its time to come back
  TraceEvent(pattern, FormatText("reset: eject result %d, waiting %u ms", ejected, kResetWait));
  Clock().Sleep(kResetWait);
  return true;
}
