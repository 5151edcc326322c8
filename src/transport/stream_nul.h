#pragma once
// The null transport: stands in for the device in simulation mode. It never fails, sends
// nothing anywhere and reads zero bytes. It is never "open", so the helpers that look at
// IsOpen (ReadString, ExpectAck) read nothing from it.

#include "transport/stream_io.h"

class CStreamNUL : public CStreamIO {
 public:
  bool Open() override { return true; }  // the open count stays as it is
  void Close() override {}
  bool IsOpen() const override { return false; }
  void Read(std::uint8_t* buffer, unsigned count) override;
  void Write(const std::uint8_t*, unsigned) override {}
  void ClearInput() override {}
  unsigned GetInputCount() override { return 0; }
  void BeginWriteBuffer() override {}
  void EndWriteBuffer() override {}
  bool ResetDevice() override { return true; }
};
