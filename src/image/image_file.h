#pragma once
// An image file opened for reading through one buffer: HEX lines and segment records are
// taken from the buffer, and the file is read in large blocks. It can also read an image
// already in memory (the benchmark, the fuzz targets and tests do).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "image/image_load_error.h"
#include "platform/input_file.h"

class CImageFile {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  CImageFile();
  ~CImageFile();
  CImageFile(const CImageFile&) = delete;
  CImageFile& operator=(const CImageFile&) = delete;

  // Opens `path` for reading; only a regular file is opened (see CInputFile). On failure
  // LastError() says why; nothing is shown.
  bool Open(const std::string& path);
  // Open, and on failure the file error message box for that path (what a download shows).
  bool OpenFile(const std::string& path);
  // Reads `bytes`, which the caller keeps alive while this object reads them; `name` stands
  // for the file in messages.
  void OpenMemory(std::string_view bytes, std::string name);
  void Close();

  bool IsOpen() const { return m_open; }
  // Why the last Open of a file failed (None when it did not).
  CInputFile::EFailure OpenFailure() const { return m_input.Failure(); }
  const std::string& Name() const { return m_name; }
  // The size of the opened file (of the bytes, for an image in memory); nothing when no file
  // is open.
  std::optional<std::uint64_t> RegularFileSize() const;

  // The bytes available now without consuming them, refilling the buffer when it is empty;
  // empty at the end of the file and after a read error.
  std::span<const std::uint8_t> Peek();
  // Consumes `count` bytes of what Peek returned.
  void Consume(std::size_t count);
  // Copies up to `count` bytes; fewer at the end of the file or on a read error.
  std::size_t Read(void* dest, std::size_t count);

  // Bytes consumed since the file was opened.
  std::uint64_t Offset() const { return m_offset; }
  bool ReadFailed() const { return !m_readError.empty(); }
  // The system's text for the read error; empty when there was none.
  const std::string& ReadErrorText() const { return m_readError; }

  // Why the last Open failed, or why the last load from this file stopped early (set by
  // ReadSegmentFile); not set when all went well.
  const CImageLoadError& LastError() const { return m_error; }
  void SetLastError(CImageLoadError error) { m_error = std::move(error); }

 private:
  bool Refill();
  // Why the last Open failed, without the file's name.
  std::string OpenFailureReason() const;

  std::string m_name;
  CInputFile m_input;
  bool m_open = false;
  std::unique_ptr<std::uint8_t[]> m_buffer;
  const std::uint8_t* m_begin = nullptr;  // unread bytes: [m_begin, m_end)
  const std::uint8_t* m_end = nullptr;
  std::uint64_t m_offset = 0;
  std::string m_readError;
  CImageLoadError m_error;
};
