#pragma once
// The 2A interface (model code ZR6618-7D) over USB, and its four updaters. The protocol object
// identifies the device and asks which hardware variant it is; the updaters differ only in
// the variant they expect and in the download they take:
//
//   CUpdater2A1  variant 1  segment download, region table A
//   CUpdater2A2  variant 2  segment download, region table B
//   CUpdater2A3  variant 3  block download of an Intel HEX file
//   CUpdater2AB  variant 3  binary download of a raw file
//
// Commands are single bytes; answers are bytes, zero-terminated text or "!".

#include <cstdint>
#include <memory>
#include <string>

#include "transport/stream_device.h"
#include "updater/updater.h"

class CInterface2A : public CStreamDevice {
 public:
  static constexpr const char* kModelCode = "ZR6618-7D";
  // The firmware version is the number in the identity from this character on.
  static constexpr std::size_t kVersionIndex = 18;

  explicit CInterface2A(std::uint8_t expectedVariant) : m_expectedVariant(expectedVariant) {}

  // The identity must carry the model code (otherwise message 20007 for a non-empty one);
  // then the variant is asked. True when it is the expected variant. A device that answers
  // the variant question with "?" counts as variant 1.
  bool Identify() override;

  // The block download of an Intel HEX file (2A byte order and pauses).
  bool ProgramHexBlocks(const std::string& path);
  // The binary download of a raw file to consecutive 4 KiB blocks from 0x0800C000; only a
  // variant 3 device takes it. False when the file cannot be opened (nothing is shown) or
  // read (the refusal is shown).
  bool ProgramBinary(const std::string& path);

  std::uint8_t ExpectedVariant() const { return m_expectedVariant; }
  std::uint8_t ReportedVariant() const { return m_reportedVariant; }

 protected:
  std::unique_ptr<CStreamIO> CreateTransport() override;

 private:
  std::uint8_t m_expectedVariant;
  std::uint8_t m_reportedVariant = 0;
};

class CUpdater2A : public CUpdater {
 public:
  bool Connect() override;
  bool ConnectAgain() override { return m_interface.ConnectAgain(); }
  std::uint16_t GetFirmwareVersion() override;
  // The download the binary-download flag and the reported variant choose; the progress
  // interface is not used (the downloads show the animation window).
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;

  const CInterface2A& Interface() const { return m_interface; }

 protected:
  CUpdater2A(std::uint8_t expectedVariant, bool binaryDownload)
      : m_interface(expectedVariant), m_binaryDownload(binaryDownload) {}

 private:
  CInterface2A m_interface;
  bool m_binaryDownload;
};

class CUpdater2A1 : public CUpdater2A {
 public:
  CUpdater2A1() : CUpdater2A(1, false) {}
};

class CUpdater2A2 : public CUpdater2A {
 public:
  CUpdater2A2() : CUpdater2A(2, false) {}
};

class CUpdater2A3 : public CUpdater2A {
 public:
  CUpdater2A3() : CUpdater2A(3, false) {}
};

class CUpdater2AB : public CUpdater2A {
 public:
  CUpdater2AB() : CUpdater2A(3, true) {}
};
