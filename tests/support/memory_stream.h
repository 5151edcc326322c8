#pragma once
// A transport over two byte queues for tests of protocol code: what the code writes is kept,
// as one byte string and as the packets it would leave in (one per unbuffered write, one per
// write-buffer run); what a device would answer is queued in advance, at once or as the reply
// to a write. Reading past the answers raises the read error, like a device that stopped
// answering.

#include <deque>
#include <string>
#include <vector>

#include "transport/stream_io.h"

class CMemoryStream : public CStreamIO {
 public:
  bool Open() override {
    m_open = true;
    AddOpen();
    return true;
  }
  void Close() override {
    if (m_open && ReleaseOpen() == 0) m_open = false;
  }
  bool IsOpen() const override { return m_open; }
  void Read(std::uint8_t* buffer, unsigned count) override {
    for (unsigned i = 0; i < count; ++i) {
      if (input.empty()) ThrowStreamException(20009);
      buffer[i] = input.front();
      input.pop_front();
    }
  }
  void Write(const std::uint8_t* buffer, unsigned count) override {
    written.insert(written.end(), buffer, buffer + count);
    if (m_buffered) {
      m_collected.insert(m_collected.end(), buffer, buffer + count);
    } else {
      packets.emplace_back(buffer, buffer + count);
    }
    if (!replies.empty()) {
      input.insert(input.end(), replies.front().begin(), replies.front().end());
      replies.pop_front();
    }
  }
  void ClearInput() override {
    ++clears;
    input.clear();
  }
  unsigned GetInputCount() override { return static_cast<unsigned>(input.size()); }
  void BeginWriteBuffer() override { m_buffered = true; }
  void EndWriteBuffer() override {
    m_buffered = false;
    if (!m_collected.empty()) packets.push_back(std::move(m_collected));
    m_collected.clear();
  }
  bool ResetDevice() override {
    ++resets;
    return true;
  }

  void Answer(const std::vector<std::uint8_t>& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
  void AnswerText(const std::string& text) { input.insert(input.end(), text.begin(), text.end()); }
  // Bytes the device sends once the next Write arrived (the answer to a command).
  void ReplyToNextWrite(const std::string& text) { replies.emplace_back(text.begin(), text.end()); }

  std::deque<std::uint8_t> input;
  std::vector<std::uint8_t> written;
  std::deque<std::vector<std::uint8_t>> replies;
  std::vector<std::vector<std::uint8_t>> packets;
  int clears = 0;
  int resets = 0;

 private:
  bool m_open = false;
  bool m_buffered = false;
  std::vector<std::uint8_t> m_collected;
};
