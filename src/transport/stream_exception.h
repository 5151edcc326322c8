#pragma once
// The exception every transport raises on a failed transfer. It carries the number of the
// message the person sees; the message is loaded in the current language whenever it is
// asked for, and every query sounds the system's beep, as the message always comes with one.

#include <cstddef>
#include <exception>
#include <limits>
#include <string>

class CStreamException : public std::exception {
 public:
  // The text of a message raised without a number of its own.
  static constexpr int kDefaultMessageId = 20011;

  explicit CStreamException(int messageId) noexcept : m_messageId(messageId) {}

  // The number it was raised with (0 stays 0 here; the message queries use 20011 for it).
  int RaisedMessageId() const noexcept { return m_messageId; }
  // The number of the message it shows.
  int MessageId() const noexcept { return m_messageId == 0 ? kDefaultMessageId : m_messageId; }

  // Beeps, then puts the message in the current language into `text`, cut to `maxChars` - 1
  // characters as a buffer of that size would hold it; `helpContext` (when given) receives
  // the message number. False, with an empty text, when there is no such message.
  bool GetErrorMessage(std::string& text, std::size_t maxChars = std::numeric_limits<std::size_t>::max(),
                       int* helpContext = nullptr) const;
  // Shows the message in a message box (it beeps too); returns the button.
  int ReportError(unsigned style = 0) const;

  // The message text (beeps like every query). Valid until the next call on this object.
  const char* what() const noexcept override;

 private:
  int m_messageId;
  mutable std::string m_what;
};
