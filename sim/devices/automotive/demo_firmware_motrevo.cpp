// The automotive trainer's demo firmware: an S-record text with CR LF line ends, as the
// tools that make the trainer's files write it. A header record, 6 KiB of data in S3 records
// of 32 bytes from 0x00010000 (the version tag 0x200 bytes in), a second run of 1 KiB at
// 0x00020000, and the S7 end record.

#include "sim/demo_firmware.h"
#include "sim/devices/automotive/s_record.h"

namespace {

constexpr std::size_t kRecordData = 32;

void AppendRun(std::string& text, std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kRecordData) {
    std::size_t size = std::min(kRecordData, bytes.size() - at);
    text += WriteSRecord('3', static_cast<std::uint32_t>(address + at), {bytes.data() + at, size}) + "\r\n";
  }
}

std::string DemoMotrevoImage(CDemoBytes& random) {
  const std::string title = "TAVRIX MOTREVO";
  std::string text = WriteSRecord('0', 0, {reinterpret_cast<const std::uint8_t*>(title.data()), title.size()}) + "\r\n";
  AppendRun(text, 0x00010000, random.Next(6 * 1024, true));
  AppendRun(text, 0x00020000, random.Next(1024, false));
  return text + WriteSRecord('7', 0x00010000, {}) + "\r\n";
}

const RegisterDemoFirmware g_motrevo("CUpdaterMotrevo", DemoMotrevoImage);

}  // namespace
