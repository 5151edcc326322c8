#pragma once
// One rule of the scripted test device: "on receiving these bytes, answer these bytes",
// written MATCH>REPLY. Both sides are byte scripts:
//
//   1F 0a        hexadecimal bytes, two digits each (blanks between them optional)
//   'ZR 1.07'    text bytes; escapes \' \\ \0 \n \r \t \xHH
//   *  *N        (match only) any one byte, any N bytes: "04 *4 10 00"
//   !            (reply only) an acknowledgement: "!", or "?" when the fault plan refuses it
//   |            (reply only) ends a packet: sends what is collected, or an empty packet
//   ~N           (reply only) the device waits N ms (clock in use) before going on
//
// A reply's collected bytes go out as packets of at most 64 bytes when the reply ends or at
// "|" / "~". An empty reply answers nothing.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CScriptedStep {
  enum class EKind { Bytes, PacketEnd, Acknowledge, Wait };
  EKind Kind = EKind::Bytes;
  std::vector<std::uint8_t> Bytes;  // Bytes
  std::uint32_t Milliseconds = 0;   // Wait
};

struct CScriptedRule {
  static constexpr int kAnyByte = -1;

  std::vector<int> Match;  // byte values, or kAnyByte
  std::vector<CScriptedStep> Reply;

  // "MATCH>REPLY" (the first ">" outside quotes splits). Throws CSimError.
  static CScriptedRule Parse(std::string_view rule);
  static CScriptedRule Parse(std::string_view match, std::string_view reply);
};

// A plain byte script (hex and text only), e.g. for tests and replies built in code.
std::vector<std::uint8_t> ParseSimBytes(std::string_view script);
