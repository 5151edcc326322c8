#include "image/hex_file_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "image/image_strings.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

std::string Hex(std::uint64_t value) {
  return FormatText("0x%llX", static_cast<unsigned long long>(value));
}

bool IsLineSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Whether a line is only what editors and DOS tools leave behind a file: white space, and at
// most one end-of-file character (0x1A) with nothing but white space after it.
bool IsFileTail(const char* line, std::size_t length) {
  const char* end = line + length;
  const char* p = std::find_if_not(line, end, IsLineSpace);
  if (p != end && *p == '\x1A') p = std::find_if_not(p + 1, end, IsLineSpace);
  return p == end;
}

}  // namespace

// ---- CHexFileReader

CHexFileReader::CHexFileReader() = default;
CHexFileReader::~CHexFileReader() = default;

bool CHexFileReader::Open(const std::string& path) { return OpenPath(path, false); }

bool CHexFileReader::OpenFile(const std::string& path) { return OpenPath(path, true); }

bool CHexFileReader::OpenPath(const std::string& path, bool showError) {
  m_file = std::make_unique<CImageFile>();
  m_lineCount = 0;
  m_endRecordSeen = false;
  m_error = {};
  if (showError ? m_file->OpenFile(path) : m_file->Open(path)) return true;
  m_error = m_file->LastError();
  m_file.reset();
  return false;
}

void CHexFileReader::OpenMemory(std::string_view bytes, std::string name) {
  m_file = std::make_unique<CImageFile>();
  m_lineCount = 0;
  m_endRecordSeen = false;
  m_error = {};
  m_file->OpenMemory(bytes, std::move(name));
}

const std::string& CHexFileReader::FileName() const {
  static const std::string none;
  return m_file ? m_file->Name() : none;
}

bool CHexFileReader::FailOnLine(std::string reason) {
  m_error = CImageLoadError::AtLine(FileName(), m_lineCount, std::move(reason));
  return false;
}

bool CHexFileReader::FailForFile(std::string reason) {
  m_error = CImageLoadError::ForFile(FileName(), std::move(reason));
  return false;
}

CHexFileReader::ELine CHexFileReader::ReadLine() {
  m_lineLength = 0;
  for (bool first = true;; first = false) {
    std::span<const std::uint8_t> chunk = m_file->Peek();
    if (chunk.empty()) {
      if (m_file->ReadFailed()) return ELine::ReadError;
      return first ? ELine::End : ELine::Read;
    }
    const void* lf = std::memchr(chunk.data(), '\n', chunk.size());
    std::size_t take = lf ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - chunk.data())
                          : chunk.size();
    if (!AppendToLine(chunk.data(), take)) return ELine::TooLong;
    m_file->Consume(lf ? take + 1 : take);
    if (lf) return ELine::Read;
  }
}

bool CHexFileReader::AppendToLine(const std::uint8_t* bytes, std::size_t count) {
  if (m_lineLength + count < kLineBufferSize) {
    // The usual case: the piece fits whole; CR bytes are squeezed out afterwards.
    char* begin = m_line + m_lineLength;
    std::memcpy(begin, bytes, count);
    char* end = begin + count;
    if (std::memchr(begin, '\r', count) != nullptr) end = std::remove(begin, end, '\r');
    m_lineLength = static_cast<std::size_t>(end - m_line);
    return true;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] == '\r') continue;
    if (m_lineLength == kLineBufferSize - 1) return false;
    m_line[m_lineLength++] = static_cast<char>(bytes[i]);
  }
  return true;
}

std::uint8_t CHexFileReader::HexByte(std::size_t& cursor) const {
  std::size_t at = cursor;
  cursor += 2;
  std::uint8_t high = at < m_lineLength ? kHexDigitValue.value[static_cast<std::uint8_t>(m_line[at])] : 0;
  std::uint8_t low = at + 1 < m_lineLength ? kHexDigitValue.value[static_cast<std::uint8_t>(m_line[at + 1])] : 0;
  return static_cast<std::uint8_t>(high << 4 | low);
}

bool CHexFileReader::ReadRecord() {
  if (!m_file || Failed()) return false;
  for (;;) {
    ELine line = ReadLine();
    m_line[m_lineLength] = '\0';
    ++m_lineCount;
    if (line == ELine::TooLong) {
      return FailOnLine(FormatMessage(LoadResString(IDS_IMAGE_LINE_TOO_LONG),
                                      {std::to_string(kLineBufferSize - 1)}));
    }
    if (line == ELine::ReadError) {
      return FailOnLine(
          FormatMessage(LoadResString(IDS_IMAGE_READ_ERROR), {m_file->ReadErrorText()}));
    }
    // The data ends at the end-of-file record. A file that stops before it, at its end or at
    // an empty line, was cut short: what came so far is only a part of the image.
    if (line == ELine::End) {
      return m_endRecordSeen ? false : FailOnLine(LoadResString(IDS_IMAGE_NO_END_RECORD));
    }
    if (m_lineLength == 0) {
      return m_endRecordSeen ? false : FailOnLine(LoadResString(IDS_IMAGE_BLANK_BEFORE_END));
    }
    if (m_line[0] != ':') {
      // Behind the end-of-file record, blank-looking lines and a DOS end-of-file character end
      // the data as an empty line does; other text there is still refused.
      if (m_endRecordSeen && IsFileTail(m_line, m_lineLength)) return false;
      return FailOnLine(LoadResString(IDS_IMAGE_NO_COLON));
    }

    std::size_t cursor = 1;
    std::uint8_t count = HexByte(cursor);
    std::uint8_t addressHigh = HexByte(cursor);
    std::uint8_t addressLow = HexByte(cursor);
    std::uint8_t type = HexByte(cursor);
    m_recordLength = count;
    m_recordAddress = static_cast<std::uint32_t>(addressHigh << 8 | addressLow);
    auto checksum = static_cast<std::uint8_t>(count + addressHigh + addressLow + type);
    if (!ReadData(cursor, checksum)) return FailOnLine(LoadResString(IDS_IMAGE_BAD_CHECKSUM));

    switch (type) {
      case 0:
        m_recordAddress += m_baseAddress;
        return true;
      case 2:
        m_baseAddress = static_cast<std::uint32_t>(GetExtAddress()) << 4;
        break;
      case 4:
        m_baseAddress = static_cast<std::uint32_t>(GetExtAddress()) << 16;
        break;
      case 1:  // end of file: the reading goes on, later records still count
        m_endRecordSeen = true;
        break;
      case 3:  // start addresses
      case 5:
        if (!m_refuseStartAddresses) break;
        [[fallthrough]];
      default:
        return FailOnLine(
            FormatMessage(LoadResString(IDS_IMAGE_BAD_RECORD_TYPE), {FormatText("%02X", type)}));
    }
  }
}

// ---- CIntelHexFileReader

CIntelHexFileReader::CIntelHexFileReader() = default;
CIntelHexFileReader::~CIntelHexFileReader() = default;

std::uint16_t CIntelHexFileReader::GetExtAddress() const {
  return static_cast<std::uint16_t>(m_data[0] << 8 | m_data[1]);
}

bool CIntelHexFileReader::ReadData(std::size_t& cursor, std::uint8_t checksum) {
  if (const char* text = LineChars(cursor, 2 * m_recordLength + 2)) {
    // The whole record is in the line: decode it without looking for the line end.
    for (std::uint32_t i = 0; i < m_recordLength; ++i, text += 2) {
      m_data[i] = HexPair(text);
      checksum = static_cast<std::uint8_t>(checksum + m_data[i]);
    }
    cursor += 2 * m_recordLength + 2;
    return HexPair(text) == static_cast<std::uint8_t>(-checksum);
  }
  for (std::uint32_t i = 0; i < m_recordLength; ++i) {
    m_data[i] = HexByte(cursor);
    checksum = static_cast<std::uint8_t>(checksum + m_data[i]);
  }
  return HexByte(cursor) == static_cast<std::uint8_t>(-checksum);
}

bool CIntelHexFileReader::AllocImage(std::size_t size) {
  m_image = {};
  try {
    m_image.assign(size, 0xFF);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CIntelHexFileReader::ReadImage() {
  while (ReadRecord()) {
    if (m_recordLength == 0) continue;
    if (std::uint64_t{m_recordAddress} + m_recordLength > m_image.size()) {
      return FailOnLine(FormatMessage(LoadResString(IDS_IMAGE_OUTSIDE_IMAGE),
                                      {Hex(m_recordAddress), std::to_string(m_recordLength),
                                       Hex(m_image.size())}));
    }
    std::memcpy(m_image.data() + m_recordAddress, m_data, m_recordLength);
  }
  return !Failed();
}
