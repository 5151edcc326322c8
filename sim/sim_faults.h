#pragma once
// Fault injection shared by every simulated device: refuse an acknowledgement, drop the
// connection or stop answering after some bytes, answer with another identity. Counts run
// over the device's whole life (all connections); each fault is armed relative to the counts
// at the moment it is set and fires once.

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>

// The faults a device starts with (from its options).
struct CSimFaultPlan {
  std::set<std::uint32_t> RefusedAcknowledgements;  // 1-based: refuse the k-th acknowledgement
  std::set<std::uint32_t> GarbledAcknowledgements;  // 1-based: answer the k-th with a byte that means nothing
  std::optional<std::uint64_t> CloseAfterBytes;     // drop the connection once n bytes came in
  std::optional<std::uint64_t> StallAfterBytes;     // stop answering once n bytes came in
  std::optional<std::string> Identity;              // identity text to answer with instead
};

// What the framework does after a frame came in.
enum class ESimFaultAction { None, Close, Stall };

class CSimFaults {
 public:
  static constexpr std::uint8_t kAcknowledge = 0x21;  // "!"
  static constexpr std::uint8_t kRefuse = 0x3F;       // "?"
  static constexpr std::uint8_t kGarbage = 0x7E;      // "~": neither an acknowledgement nor a refusal

  // Arms every fault of `plan`, counted from now.
  void Arm(const CSimFaultPlan& plan);
  // The k-th acknowledgement from now (k >= 1) is answered "?".
  void RefuseAcknowledgement(std::uint32_t k);
  // The k-th acknowledgement from now is answered with kGarbage.
  void GarbleAcknowledgement(std::uint32_t k);
  // The connection that brings the received byte count n bytes above today's is dropped as
  // soon as that frame is in (n = 0: at the next frame).
  void CloseAfterBytes(std::uint64_t n);
  // Likewise, but the connection stays and the device stops answering on it: it reads and
  // discards what the host sends until the host closes.
  void StallAfterBytes(std::uint64_t n);
  // The family answers its identity question with this text instead of its own.
  void AnswerWithIdentity(std::string identity);
  // Disarms everything (the counts go on).
  void Clear();

  std::optional<std::string> IdentityOverride() const;

  // For the framework: the byte of the next acknowledgement, counted.
  std::uint8_t NextAcknowledgement();
  // For the framework: `bytes` came in; the fault that fires now, if any.
  ESimFaultAction CountReceived(std::size_t bytes);

  std::uint32_t Acknowledgements() const;
  std::uint64_t BytesReceived() const;

  // The transcript's words for what the faults did, with the counts as they stand: a fault
  // that fired (Close or Stall), the last acknowledgement not given, and the counts a test
  // places its faults by.
  std::string FiredNote(ESimFaultAction action) const;
  std::string RefusedNote() const;
  std::string CountsRemark() const;

 private:
  mutable std::mutex m_mutex;
  std::uint32_t m_acknowledgements = 0;
  std::uint64_t m_received = 0;
  std::set<std::uint32_t> m_refused;  // absolute acknowledgement numbers
  std::set<std::uint32_t> m_garbled;
  std::optional<std::uint64_t> m_closeAt;
  std::optional<std::uint64_t> m_stallAt;
  std::optional<std::string> m_identity;
};
