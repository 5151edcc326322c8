#pragma once
// Intel HEX readers. CHexFileReader reads a file line by line and record by record;
// CIntelHexFileReader is the byte-addressed variant, which can also copy every record into a
// flat memory image. The word-addressed variant lives in hex_file_reader16.h.
//
// Reading rules: a CR byte is dropped, an LF byte or the end of the file ends a line; the
// data must reach the end-of-file record, and records after it are still read; after it, the
// end of the file, an empty line, a line of white space, or a DOS end-of-file character (0x1A)
// with white space around it, ends the data; characters that are no hexadecimal digit count
// as 0.
//
// Every other reason to stop is a failure: the end of the file or an empty line before the
// end-of-file record (the file was cut short), a line that does not begin with ':', a wrong
// checksum, a record type above 5 (and the start address records 3 and 5 where
// RefuseStartAddressRecords asks for it), a line that does not fit the line buffer, a read
// error, and the variants' own (a record outside the image or the region table). ReadRecord then
// returns false like at the end of the data, Failed() is true and LastError() names the file
// and the line; the reader reads nothing more. A download checks Failed() and refuses the
// image before it touches the device:
//
//   CIntelHexFileReader reader;
//   if (!reader.OpenFile(path)) return false;          // the file error was shown
//   reader.AllocImage(CIntelHexFileReader::kImageSize);
//   if (!reader.ReadImage()) { ShowImageRefusal(reader.LastError()); return false; }

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_file.h"
#include "image/image_load_error.h"

// The value of each character as a hexadecimal digit; 0 for every other character.
inline constexpr auto kHexDigitValue = [] {
  struct Table {
    std::uint8_t value[256] = {};
  } table;
  for (int c = '0'; c <= '9'; ++c) table.value[c] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table.value[c] = static_cast<std::uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table.value[c] = static_cast<std::uint8_t>(c - 'a' + 10);
  return table;
}();

class CHexFileReader {
 public:
  // The line buffer holds a line of at most kLineBufferSize - 1 characters and its end.
  static constexpr std::size_t kLineBufferSize = 1024;

  CHexFileReader();
  virtual ~CHexFileReader();
  CHexFileReader(const CHexFileReader&) = delete;
  CHexFileReader& operator=(const CHexFileReader&) = delete;

  // Replaces the file; on failure shows the file error message box and returns false.
  bool OpenFile(const std::string& path);
  // The same without any message box (LastError() says why).
  bool Open(const std::string& path);
  // Reads HEX text held in memory; `bytes` must outlive the reading.
  void OpenMemory(std::string_view bytes, std::string name);

  // Reads lines up to the next data record: true with RecordAddress, RecordLength and the
  // data set; false at the end of the data and on a failure (then Failed() is true).
  bool ReadRecord();

  // Two characters from the line at `cursor` as one byte, the first the high nibble; a
  // character that is no hexadecimal digit, or lies past the end of the line, counts as 0.
  // The cursor advances by two.
  std::uint8_t HexByte(std::size_t& cursor) const;

  bool Failed() const { return m_error.IsSet(); }
  const CImageLoadError& LastError() const { return m_error; }
  // From now on the start address records (types 3 and 5) are refused like an unknown type.
  // A loader whose bootloader takes only data, address and end records sets it.
  void RefuseStartAddressRecords() { m_refuseStartAddresses = true; }

  int LineCount() const { return m_lineCount; }
  // The name the file was opened by (empty before one is).
  const std::string& FileName() const;
  std::uint32_t BaseAddress() const { return m_baseAddress; }
  std::uint32_t RecordAddress() const { return m_recordAddress; }
  std::uint32_t RecordLength() const { return m_recordLength; }

 protected:
  // The value an extended address record carries.
  virtual std::uint16_t GetExtAddress() const = 0;
  // Reads the data field (RecordLength bytes) and the checksum byte from `cursor`, with the
  // running checksum of the four header bytes; true when the checksum is right.
  virtual bool ReadData(std::size_t& cursor, std::uint8_t checksum) = 0;

  // The `count` characters of the line from `cursor` on, or nullptr when the line ends first
  // (then HexByte reads the missing characters as 0).
  const char* LineChars(std::size_t cursor, std::size_t count) const {
    return cursor + count <= m_lineLength ? m_line + cursor : nullptr;
  }
  // Two characters of the line as one byte, the first the high nibble.
  static std::uint8_t HexPair(const char* text) {
    return static_cast<std::uint8_t>(kHexDigitValue.value[static_cast<std::uint8_t>(text[0])] << 4 |
                                     kHexDigitValue.value[static_cast<std::uint8_t>(text[1])]);
  }

  // Ends the reading with a failure on the current line; always false.
  bool FailOnLine(std::string reason);
  // Ends the reading with a failure of the file as a whole; always false.
  bool FailForFile(std::string reason);

  std::uint32_t m_recordAddress = 0;
  std::uint32_t m_recordLength = 0;

 private:
  // End: the file ended before the line had a byte.
  enum class ELine { Read, End, TooLong, ReadError };
  bool OpenPath(const std::string& path, bool showError);
  ELine ReadLine();
  // Appends a piece of a line without its CR bytes; false when it does not fit the buffer.
  bool AppendToLine(const std::uint8_t* bytes, std::size_t count);

  std::unique_ptr<CImageFile> m_file;
  int m_lineCount = 0;
  char m_line[kLineBufferSize] = {};
  std::size_t m_lineLength = 0;
  std::uint32_t m_baseAddress = 0;
  bool m_endRecordSeen = false;
  bool m_refuseStartAddresses = false;
  CImageLoadError m_error;
};

class CIntelHexFileReader : public CHexFileReader {
 public:
  static constexpr std::size_t kDataBufferSize = 1024;
  // The image every download allocates: 1 MiB.
  static constexpr std::size_t kImageSize = 0x100000;

  CIntelHexFileReader();
  ~CIntelHexFileReader() override;

  // Frees the previous image and allocates `size` bytes of 0xFF; false when there is no
  // memory for it.
  bool AllocImage(std::size_t size);
  // Copies every data record to the image at its address. True when the whole file was read;
  // false on a failure, including a record that would land outside the image (nothing of it
  // is copied).
  bool ReadImage();

  const std::uint8_t* Data() const { return m_data; }
  const std::vector<std::uint8_t>& Image() const { return m_image; }

 protected:
  // Data bytes 0 and 1, big-endian.
  std::uint16_t GetExtAddress() const override;
  bool ReadData(std::size_t& cursor, std::uint8_t checksum) override;

 private:
  std::uint8_t m_data[kDataBufferSize] = {};
  std::vector<std::uint8_t> m_image;
};
