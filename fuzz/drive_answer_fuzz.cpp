// What the control unit passes back from the drive, as anything at all may arrive: the bytes
// answer a drive that reads string and number code values, polls a command status, reads a
// file and asks file sizes. Every length the drive names must stay inside the buffer it goes
// into: strings of at most 254 characters, reads never past their destination.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "../tests/support/memory_stream.h"
#include "../tests/support/silent_user_interface.h"
#include "devices/servo/drive.h"
#include "platform/user_interface.h"

namespace {

// The drive with the fuzzer's bytes as everything the control unit will ever answer.
class CFuzzedDrive : public CDrive {
 public:
  CFuzzedDrive(CDownloadLog& log, const std::uint8_t* data, std::size_t size) : CDrive(log) {
    auto stream = std::make_unique<CMemoryStream>();
    stream->Open();
    stream->Answer(std::vector<std::uint8_t>(data, data + size));
    m_stream = std::move(stream);
  }
};

constexpr std::size_t kReadLength = 48;
constexpr std::uint8_t kGuard = 0xA5;

void Exercise(CDrive& drive) {
  for (int round = 0; round < 4; ++round) {
    std::string text;
    if (drive.ReadCodeValueString(203, 5, text) && text.size() > CDrive::kMaxStringValue) std::abort();
    int value = 0;
    drive.ReadCodeValueInt(515, 0, value);
    // The destination sits between guard bytes that no answer may reach.
    std::uint8_t buffer[kReadLength + 2 * 16];
    std::fill(std::begin(buffer), std::end(buffer), kGuard);
    drive.ConvFileRead(1, std::span<std::uint8_t>(buffer + 16, kReadLength), 0);
    for (std::size_t i = 0; i < 16; ++i) {
      if (buffer[i] != kGuard || buffer[16 + kReadLength + i] != kGuard) std::abort();
    }
    std::uint32_t size = 0;
    drive.GetFileSize("DevCErr.dat", size);
    drive.GetSizeDir("\\Drive001", size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CSilentUserInterface ui;
  SetUserInterface(&ui);
  CDownloadLog log;
  CFuzzedDrive drive(log, data, size);
  drive.InstallGci();
  try {
    Exercise(drive);
  } catch (const CStreamException&) {
    // The answers ran out: the read error every transport raises.
  }
  return 0;
}
