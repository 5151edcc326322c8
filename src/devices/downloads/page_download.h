#pragma once
// Page-wise programming (CFlashUpdateAtmel): a bootloader that takes its flash page by page.
// The HEX file is loaded into the 128 KiB page image (page_image.h), the device is asked for
// its page size, every page from page 0 up to the one holding the highest loaded address is
// sent with an 8-bit checksum, and the device is told to restart. The ATMU device is its user;
// what is sent before the programming is the family's.
//
//   3C                               -> 5 bytes: 3 not used, the page size code, "!"
//   per page, from page 0 on:
//     <page number:2, high byte first>      nothing read
//     <page size bytes>                     nothing read
//     <checksum:1, sum of the page bytes>   -> "!" written, "?" refused, anything else: again
//   FF FF                                   the restart (page number 0xFFFF), then 2000 ms
//
// A page is sent at most four times. A refusal ends the programming at once, without the
// restart; so does a transfer error, which Transact turns into a refusal. Progress goes to the
// wizard's progress interface: the range after loading, then status texts only.

#include <cstdint>
#include <optional>
#include <string>

#include "devices/downloads/page_image.h"
#include "transport/stream_exception.h"

class CIntelHexFileReader;
class CStreamIO;
class IFlashProgress;

// The page size a device information answer's code stands for: 32 bytes for 0x51, doubling
// with each code up to 32768 for 0x5B; nothing for any other code, whose page size would not
// fit 16 bits or make sense.
std::optional<std::uint16_t> PageSizeFromCode(std::uint8_t code);

class CFlashUpdateAtmel {
 public:
  static constexpr std::uint8_t kDeviceInfoCommand = 0x3C;
  static constexpr std::uint16_t kRestartPage = 0xFFFF;
  static constexpr int kTriesPerPage = 4;
  static constexpr std::uint32_t kRestartPause = 2000;

  // Programs through `stream` (not owned) and reports to `progress` (not owned; may be null).
  CFlashUpdateAtmel(CStreamIO& stream, IFlashProgress* progress);
  virtual ~CFlashUpdateAtmel() = default;
  CFlashUpdateAtmel(const CFlashUpdateAtmel&) = delete;
  CFlashUpdateAtmel& operator=(const CFlashUpdateAtmel&) = delete;

  // Writes the request (if any), then reads `answerLength` bytes (none for 0). A transfer
  // error is absorbed: false, and kept to be told if the programming fails by it.
  virtual bool Transact(const std::uint8_t* request, std::uint16_t requestLength, std::uint8_t* answer,
                        std::uint16_t answerLength);

  // Opens and loads the HEX file at `path`. False when it cannot be opened (the file error is
  // shown) or does not load completely (the refusal, with the file and the line, is shown).
  bool LoadHexFile(const std::string& path);
  // Loads the HEX file `reader` has open, the same way.
  bool LoadHex(CIntelHexFileReader& reader);

  // Asks the device for its page size; false when the transaction fails, the answer does not
  // end in "!", or the code names no page size.
  bool GetDeviceInfo();
  // Writes every page and restarts the device; false, with the restart unsent, when the
  // device information or a page fails.
  bool ProgramPages();
  // Sends the page given by the page number once: its number, its bytes, its checksum. The
  // device's answer to the checksum, or "?" when a transfer failed.
  std::uint8_t WritePage();

  const CPageImage& Image() const { return m_image; }
  std::uint16_t PageSize() const { return m_pageSize; }

 private:
  // The page given by the page number, tried up to four times; true once it answered "!".
  bool WritePageTries();
  void Status(const std::string& text);
  // Programming failed: the link's own message, when a transfer failed, tells why.
  void ReportLinkFailure() const;

  CStreamIO& m_stream;
  CPageImage m_image;
  std::uint16_t m_pageNumber = 0;
  std::uint16_t m_pageSize = 0;
  IFlashProgress* m_progress;
  std::optional<CStreamException> m_linkFailure;  // the last transfer error absorbed
};
