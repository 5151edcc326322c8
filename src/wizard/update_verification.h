#pragma once
// The check after a programming that reported success. The last acknowledged unit is not proof
// that the device has its firmware: the link can drop, or the device lose power, before it has
// finished. So the device is met again as the family meets it (its own restart wait, the
// connect loop, bounded) and must report the catalog's version of every part that was
// programmed; only then does the update count as done.

#include <cstdint>
#include <string>

class IFlashProgress;

class CUpdateVerification {
 public:
  static constexpr int kCheckingText = 45001;
  static constexpr int kNotBackMessage = 45002;
  static constexpr int kWrongFirmwareMessage = 45003;
  static constexpr int kWrongApplicationMessage = 45004;

  explicit CUpdateVerification(IFlashProgress* progress) : m_progress(progress) {}

  // Meets the device again and compares. True when it reports what the catalog names. On a
  // failure the cause is shown, and kept as the update's failure cause; the read-back versions
  // are kept in the wizard's state either way (as far as the device gave them).
  bool Run();

 private:
  // True when a part that was not programmed, or one that reports `expected`; otherwise fails
  // with `messageId` (%1 the Id, %2 found, %3 expected).
  bool Matches(bool programmed, std::uint16_t found, std::uint16_t expected, int messageId);
  bool Fail(int messageId, const std::string& text);

  IFlashProgress* m_progress;
};
