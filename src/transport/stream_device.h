#pragma once
// The base of every device protocol object: it owns the one transport it talks through, keeps
// the identity text the device reported, and runs the connect loop every updater's Connect
// uses. Each family supplies Identify and its transport class.

#include <cstdint>
#include <memory>
#include <string>

#include "transport/stream_io.h"

class CStreamDevice {
 public:
  // Results of OpenAndIdentify.
  static constexpr int kConnected = 6;
  static constexpr int kExit = 2;
  static constexpr int kSimulation = 7;
  // Identity texts are compared with the model code over this many characters.
  static constexpr std::size_t kModelCodeLength = 9;

  CStreamDevice() = default;
  virtual ~CStreamDevice() = default;
  CStreamDevice(const CStreamDevice&) = delete;
  CStreamDevice& operator=(const CStreamDevice&) = delete;

  // Talks to the device over the open transport, keeps what it says about itself in the
  // identity, and returns true only when it is the device this object expects. May raise
  // CStreamException.
  virtual bool Identify() = 0;

  // The connect loop: open a transport, identify the device, and when that fails ask the
  // transport's QueryInitFailure what to do: try again with a fresh transport, go on in
  // simulation on a CStreamNUL (families that offer it), or give up.
  // kConnected, kExit or kSimulation.
  int OpenAndIdentify();

  // The connect loop once more, after the device was programmed: the transport in use is let
  // go, the device is looked for up to kComebackAttempts times kComebackPause (it may be
  // restarting), then identified. True only when it connected as itself; simulation and
  // giving up are false.
  bool ConnectAgain();
  static constexpr int kComebackAttempts = 40;
  static constexpr std::uint32_t kComebackPause = 250;

  // The transport in use; nullptr before the first connect and after the loop gave up.
  CStreamIO* Stream() const { return m_stream.get(); }
  const std::string& Identity() const { return m_identity; }

  // The decimal number in `identity` from character `index` on (blanks and a sign allowed,
  // up to the first other character), kept to 16 bits; 0 when there is none or the identity
  // is shorter than the index.
  static std::uint16_t ParseVersionAt(const std::string& identity, std::size_t index);

 protected:
  // A new, closed transport of the family's class.
  virtual std::unique_ptr<CStreamIO> CreateTransport() = 0;
  // Whether the connect loop turns the dialog's "Simulation" answer into simulation mode;
  // otherwise it counts as another try.
  virtual bool OffersSimulation() const { return false; }

  // The identity reading the USB interface families share: clear the input, send 0x02, read
  // the identity text, and compare it with `modelCode` over at most nine characters. On a
  // mismatch a non-empty identity is named in message 20007 together with `expectedName`
  // (the model code when empty). True on a match; what follows is the family's.
  bool ReadIdentity(const std::string& modelCode, const std::string& expectedName = {});
  // Message 20007: the device `identity` was found where `expected` is required.
  static void ShowWrongDevice(const std::string& identity, const std::string& expected);

  std::unique_ptr<CStreamIO> m_stream;
  std::string m_identity;
};

// Bytes 0x80..0xFF of a device's text as the characters with the same codes, in UTF-8.
std::string DeviceTextToUtf8(const std::string& text);
