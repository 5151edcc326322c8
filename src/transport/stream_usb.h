#pragma once
// The USB transport over the vendor driver's device interfaces (the USB bus port). It finds
// the interface whose device path carries the wanted product id ("pid_%04x"), opens it (as two
// bulk pipes with the first-generation driver, as one handle with the second), reads 64-byte
// packets and serves single bytes from them, and writes in transfers of at most 256 bytes. Each
// device family derives a small class that names its USB product string and product id.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/usb_bus.h"
#include "transport/stream_io.h"

class CStreamUSB : public CStreamIO {
 public:
  static constexpr unsigned kPacketSize = 64;       // one bulk IN packet
  static constexpr unsigned kWriteChunk = 256;      // the largest unbuffered transfer
  static constexpr unsigned kWriteBufferSize = 64;  // write-buffer mode's collection
  static constexpr std::uint16_t kDefaultOpenDelay = 1000;
  static constexpr std::uint32_t kResetWait = 5000;
  static constexpr int kReadError = 20009;
  static constexpr int kWriteError = 20010;
  // "... is connected, but this user may not open it" (with the product and the device path).
  static constexpr int kPermissionMessage = 20030;
  // No machine has this many interfaces of one class; a list that never ends stops here.
  static constexpr unsigned kMaxInterfaceIndex = 1024;

  CStreamUSB();
  ~CStreamUSB() override;

  // Runs the "Interface" dialog naming GetProductName; its result (2 when it cannot be shown).
  int QueryInitFailure(bool allowSimulation, bool allowExit) override;
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return m_read != nullptr; }
  void Read(std::uint8_t* buffer, unsigned count) override;
  void Write(const std::uint8_t* buffer, unsigned count) override;
  void ClearInput() override;
  unsigned GetInputCount() override { return m_inputCount - m_inputPosition; }
  void BeginWriteBuffer() override { m_writeBuffered = true; }
  void EndWriteBuffer() override;
  bool ResetDevice() override;

  // "PIPE02" for input, "PIPE03" for output.
  virtual std::string GetPipeName(bool input);
  // The driver's interface class of this transport's generation.
  virtual std::string GetInterfaceGuid();
  // The device family's USB product string: the "Interface" dialog's name for the device and
  // the friendly-name pattern of ResetDevice.
  virtual std::string GetProductName() = 0;
  virtual std::uint16_t GetProductId() = 0;

  // "pid_%04x" of GetProductId: what a device path must contain (case-sensitive).
  std::string MatchingText();
  bool IsSecondGeneration() const { return m_secondGeneration; }
  std::uint16_t OpenDelay() const { return m_openDelay; }
  void SetOpenDelay(std::uint16_t milliseconds) { m_openDelay = milliseconds; }
  // The device path of the open interface; empty while closed.
  const std::string& DevicePath() const { return m_devicePath; }
  // Bytes collected in write-buffer mode and not sent yet.
  unsigned GetOutputCount() const { return m_outputCount; }

 protected:
  explicit CStreamUSB(bool secondGeneration);

 private:
  bool Search(IUsbBus& bus);
  bool SearchFirstGeneration(IUsbBus& bus);
  bool SearchSecondGeneration(IUsbBus& bus);
  void Opened(IUsbBus& bus, const std::string& path, std::shared_ptr<IUsbHandle> read,
              std::shared_ptr<IUsbHandle> write);
  void NoteOpenFailure(const std::string& path, UsbOpenError error);
  void FetchPacket();
  void SendUnbuffered(const std::uint8_t* buffer, unsigned count);
  void ReleaseHandles();

  bool m_secondGeneration;
  std::shared_ptr<IUsbHandle> m_read;
  std::shared_ptr<IUsbHandle> m_write;  // the same handle as m_read when one serves both
  std::uint8_t m_input[kPacketSize] = {};
  unsigned m_inputPosition = 0;
  unsigned m_inputCount = 0;
  bool m_writeBuffered = false;
  std::uint8_t m_output[kWriteBufferSize] = {};
  unsigned m_outputCount = 0;
  std::uint16_t m_openDelay = kDefaultOpenDelay;

  IUsbBus* m_bus = nullptr;  // the bus the handles belong to
  std::string m_devicePath;
  std::string m_deniedPath;  // a matching device this user may not open (last search)
};

// The second-generation driver: one handle for both directions.
class CStreamUSB2 : public CStreamUSB {
 protected:
  CStreamUSB2() : CStreamUSB(true) {}
};
