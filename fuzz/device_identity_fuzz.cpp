// Every family's identity reading on arbitrary answers, through a memory transport. The first
// input byte picks the family (and the 2A variant expected), the second the length of the
// catalog Id that follows (the families that compare with their entry's Id); the rest are the
// device's answers, one per command the family sends, separated by A5 5A. Checked against a
// comparison written here from the text's characters: an identification that succeeds has
// the model code (or Id) over its first nine characters (UTF-16 units for the wide identity);
// a complete identity that does not match fails, with message 20007 exactly when it is not
// empty (the servo trainer names none); the identity kept is the text the device sent; the
// version read from it is the one the C library's conversion reads.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "../tests/support/memory_stream.h"
#include "devices/1a/interface_1a.h"
#include "devices/1z/interface_1z.h"
#include "devices/2a/interface_2a.h"
#include "devices/atmu/interface_atmu.h"
#include "devices/automotive/motrevo.h"
#include "devices/c28xx/interface_c28xx.h"
#include "devices/mk/interface_mk.h"
#include "devices/servo/kinetra.h"
#include "fuzz_support.h"
#include "platform/clock.h"
#include "transport/stream_exception.h"

namespace {

// Puts a memory transport into any family's interface and runs its Identify.
template <class Interface>
class CFed : public Interface {
 public:
  using Interface::Interface;
  CMemoryStream& Feed(const std::vector<std::string>& replies) {
    auto stream = std::make_unique<CMemoryStream>();
    stream->Open();
    for (const std::string& reply : replies) stream->ReplyToNextWrite(reply);
    CMemoryStream& kept = *stream;
    this->m_stream = std::move(stream);
    return kept;
  }
};

std::vector<std::string> SplitReplies(std::string_view bytes) {
  std::vector<std::string> replies;
  for (;;) {
    const std::size_t marker = bytes.find("\xA5\x5A");
    replies.emplace_back(bytes.substr(0, marker));
    if (marker == std::string_view::npos) return replies;
    bytes.remove_prefix(marker + 2);
  }
}

// The version as strtol reads it from the index on, held to int and kept to 16 bits.
std::uint16_t ReferenceVersion(const std::string& text, std::size_t index) {
  if (text.size() <= index) return 0;
  long long value = std::strtoll(text.c_str() + index, nullptr, 10);
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
}

// The first `count` characters of each, equal; a shorter one must equal the other in full.
bool SamePrefix(const std::u32string& a, const std::u32string& b, std::size_t count) {
  return a.substr(0, count) == b.substr(0, count);
}

// The device's one-byte characters: Latin-1, or (`signedBytes`) bytes above 0x7F as the
// characters FF80..FFFF a sign-extending conversion gives.
std::u32string ByteCharacters(const std::string& text, bool signedBytes) {
  std::u32string characters;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    characters += static_cast<char32_t>(signedBytes && byte >= 0x80 ? 0xFF00u | byte : byte);
  }
  return characters;
}

std::u32string Utf8Characters(const std::string& text) {
  const std::u32string characters = QString::fromStdString(text).toStdU32String();
  return characters;
}

bool IsValidUtf8(const std::string& text) { return QString::fromStdString(text).toStdString() == text; }

// The identity a byte-text family reads from its first answer: up to the zero; nothing when
// the answer has no zero within the bound (the read then fails).
std::optional<std::string> SentIdentity(const std::vector<std::string>& replies) {
  const std::string& first = replies.front();
  const std::size_t zero = first.find('\0');
  if (zero == std::string::npos || zero > CStreamIO::kMaxStringLength) return std::nullopt;
  return first.substr(0, zero);
}

struct COutcome {
  bool raised = false;
  bool identified = false;
};

template <class Device>
COutcome Run(Device& device) {
  COutcome outcome;
  try {
    outcome.identified = device.Identify();
  } catch (const CStreamException&) {
    outcome.raised = true;
  }
  return outcome;
}

// The checks every family with a one-byte identity shares. `expected` is the comparison
// written here; `messages` whether a mismatch is told.
void CheckByteIdentity(const CStreamDevice& device, const COutcome& outcome, const std::vector<std::string>& replies,
                       std::optional<bool> expected, bool messages, std::size_t versionIndex, int shown) {
  const std::optional<std::string> sent = SentIdentity(replies);
  if (!sent) {
    if (!outcome.raised) std::abort();  // a text without its end is a read error
    return;
  }
  if (device.Identity() != *sent) std::abort();
  if (expected && outcome.identified && !*expected) std::abort();
  if (expected && !*expected && !outcome.raised) {
    if (outcome.identified) std::abort();
    if (shown != (messages && !sent->empty() ? 1 : 0)) std::abort();
  }
  if (CStreamDevice::ParseVersionAt(*sent, versionIndex) != ReferenceVersion(*sent, versionIndex)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CCountingUserInterface ui;
  static CVirtualClock clock;
  SetUserInterface(&ui);
  SetClock(&clock);
  clock.ClearWaits();
  ui.messages = 0;
  if (size < 2) return 0;
  const std::uint8_t family = data[0] % 8;
  const std::size_t idLength = std::min<std::size_t>(data[1] % 24, size - 2);
  DeviceRecord entry;
  entry.Id.assign(reinterpret_cast<const char*>(data) + 2, idLength);
  entry.Name = "fuzzed entry";
  const std::vector<std::string> replies =
      SplitReplies(std::string_view(reinterpret_cast<const char*>(data) + 2 + idLength, size - 2 - idLength));
  constexpr std::size_t kNine = CStreamDevice::kModelCodeLength;

  auto byteMatch = [&](const std::string& model, bool signedBytes) -> std::optional<bool> {
    const std::optional<std::string> sent = SentIdentity(replies);
    if (!sent || !IsValidUtf8(model)) return std::nullopt;
    return SamePrefix(ByteCharacters(*sent, signedBytes), Utf8Characters(model), kNine);
  };

  switch (family) {
    case 0: {
      CFed<CInterface1A> device;
      device.Feed(replies);
      const COutcome outcome = Run(device);
      CheckByteIdentity(device, outcome, replies, byteMatch(CInterface1A::kModelCode, false), true,
                        CInterface1A::kVersionIndex, ui.messages);
      break;
    }
    case 1: {
      CFed<CInterface1Z> device;
      device.Feed(replies);
      const COutcome outcome = Run(device);
      CheckByteIdentity(device, outcome, replies, byteMatch(CInterface1Z::kModelCode, false), true,
                        CInterface1Z::kVersionIndex, ui.messages);
      // Identified means the device also accepted 10 01 with "!".
      if (outcome.identified && (replies.size() < 2 || replies[1].empty() || replies[1][0] != '!')) std::abort();
      break;
    }
    case 2: {
      const std::uint8_t variant = static_cast<std::uint8_t>(1 + (data[0] / 8) % 3);
      CFed<CInterface2A> device(variant);
      device.Feed(replies);
      const COutcome outcome = Run(device);
      CheckByteIdentity(device, outcome, replies, byteMatch(CInterface2A::kModelCode, false), true,
                        CInterface2A::kVersionIndex, ui.messages);
      if (outcome.identified && device.ReportedVariant() != variant) std::abort();
      break;
    }
    case 3: {
      CFed<CInterfaceMK> device(entry);
      device.Feed(replies);
      const COutcome outcome = Run(device);
      CheckByteIdentity(device, outcome, replies, byteMatch(entry.Id, false), true, CInterfaceMK::kVersionIndex,
                        ui.messages);
      break;
    }
    case 4: {
      CFed<CInterfaceATMU> device(entry);
      device.Feed(replies);
      const COutcome outcome = Run(device);
      CheckByteIdentity(device, outcome, replies, byteMatch(entry.Id, true), true, CInterfaceATMU::kVersionIndex,
                        ui.messages);
      break;
    }
    case 5: {
      CFed<CMotrevo> device;
      device.Feed(replies);
      const COutcome outcome = Run(device);
      const std::optional<std::string> sent = SentIdentity(replies);
      // A plain nine-byte comparison with the template, its x taken literally.
      const std::optional<bool> expected =
          sent ? std::optional<bool>(sent->compare(0, kNine, CMotrevo::kIdentityTemplate, kNine) == 0) : std::nullopt;
      CheckByteIdentity(device, outcome, replies, expected, true, CMotrevo::kVersionIndex, ui.messages);
      break;
    }
    case 6: {
      CFed<CKinetra> device;
      device.Feed(replies);
      const COutcome outcome = Run(device);
      const std::optional<std::string> sent = SentIdentity(replies);
      std::optional<bool> expected;
      if (sent) {
        expected = false;
        for (const char* code : CKinetra::kModelCodes) expected = *expected || sent->compare(0, kNine, code, kNine) == 0;
      }
      CheckByteIdentity(device, outcome, replies, expected, false, CKinetra::kVersionIndex, ui.messages);
      if (!outcome.raised && device.GetFirmwareVersion() != ReferenceVersion(device.Identity(), CKinetra::kVersionIndex)) {
        std::abort();
      }
      break;
    }
    default: {
      CFed<CInterfaceC28XX> device(entry);
      device.Feed(replies);
      const COutcome outcome = Run(device);
      // Big-endian code units up to the zero unit.
      const std::string& first = replies.front();
      std::u16string sent;
      bool ended = false;
      for (std::size_t i = 0; i + 1 < first.size() && sent.size() <= CStreamIO::kMaxStringLength; i += 2) {
        const auto unit = static_cast<char16_t>((static_cast<unsigned char>(first[i]) << 8) |
                                                static_cast<unsigned char>(first[i + 1]));
        if (unit == 0) {
          ended = true;
          break;
        }
        sent += unit;
      }
      if (!ended || sent.size() > CStreamIO::kMaxStringLength) {
        if (!outcome.raised) std::abort();
        break;
      }
      if (outcome.raised || device.WideIdentity() != sent) std::abort();
      const std::u16string id = QString::fromStdString(entry.Id).toStdU16String();
      const bool expected = sent.substr(0, kNine) == id.substr(0, kNine);
      if (outcome.identified != expected) std::abort();
      if (!expected && ui.messages != (sent.empty() ? 0 : 1)) std::abort();
      std::string narrow;
      for (char16_t unit : sent) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
      if (device.FirmwareVersion() != ReferenceVersion(narrow, CInterfaceC28XX::kVersionIndex)) std::abort();
      break;
    }
  }
  return 0;
}
