#include "sim/sim_faults.h"

#include "platform/text_format.h"

void CSimFaults::Arm(const CSimFaultPlan& plan) {
  for (std::uint32_t k : plan.RefusedAcknowledgements) RefuseAcknowledgement(k);
  for (std::uint32_t k : plan.GarbledAcknowledgements) GarbleAcknowledgement(k);
  if (plan.CloseAfterBytes) CloseAfterBytes(*plan.CloseAfterBytes);
  if (plan.StallAfterBytes) StallAfterBytes(*plan.StallAfterBytes);
  if (plan.Identity) AnswerWithIdentity(*plan.Identity);
}

void CSimFaults::GarbleAcknowledgement(std::uint32_t k) {
  std::lock_guard lock(m_mutex);
  if (k >= 1) m_garbled.insert(m_acknowledgements + k);
}

void CSimFaults::RefuseAcknowledgement(std::uint32_t k) {
  std::lock_guard lock(m_mutex);
  if (k >= 1) m_refused.insert(m_acknowledgements + k);
}

void CSimFaults::CloseAfterBytes(std::uint64_t n) {
  std::lock_guard lock(m_mutex);
  m_closeAt = m_received + n;
}

void CSimFaults::StallAfterBytes(std::uint64_t n) {
  std::lock_guard lock(m_mutex);
  m_stallAt = m_received + n;
}

void CSimFaults::AnswerWithIdentity(std::string identity) {
  std::lock_guard lock(m_mutex);
  m_identity = std::move(identity);
}

void CSimFaults::Clear() {
  std::lock_guard lock(m_mutex);
  m_refused.clear();
  m_garbled.clear();
  m_closeAt.reset();
  m_stallAt.reset();
  m_identity.reset();
}

std::optional<std::string> CSimFaults::IdentityOverride() const {
  std::lock_guard lock(m_mutex);
  return m_identity;
}

std::uint8_t CSimFaults::NextAcknowledgement() {
  std::lock_guard lock(m_mutex);
  ++m_acknowledgements;
  if (m_garbled.erase(m_acknowledgements) > 0) return kGarbage;
  return m_refused.erase(m_acknowledgements) > 0 ? kRefuse : kAcknowledge;
}

ESimFaultAction CSimFaults::CountReceived(std::size_t bytes) {
  std::lock_guard lock(m_mutex);
  m_received += bytes;
  if (m_closeAt && m_received >= *m_closeAt) {
    m_closeAt.reset();
    return ESimFaultAction::Close;
  }
  if (m_stallAt && m_received >= *m_stallAt) {
    m_stallAt.reset();
    return ESimFaultAction::Stall;
  }
  return ESimFaultAction::None;
}

std::uint32_t CSimFaults::Acknowledgements() const {
  std::lock_guard lock(m_mutex);
  return m_acknowledgements;
}

std::uint64_t CSimFaults::BytesReceived() const {
  std::lock_guard lock(m_mutex);
  return m_received;
}

std::string CSimFaults::FiredNote(ESimFaultAction action) const {
  const char* what = action == ESimFaultAction::Close ? "connection dropped" : "stalled";
  return FormatText("fault: %s after %llu bytes received", what, static_cast<unsigned long long>(BytesReceived()));
}

std::string CSimFaults::RefusedNote() const {
  return FormatText("fault: acknowledgement %u refused", Acknowledgements());
}

std::string CSimFaults::CountsRemark() const {
  return FormatText("counts: %u acknowledgement(s), %llu byte(s) received", Acknowledgements(),
                    static_cast<unsigned long long>(BytesReceived()));
}
