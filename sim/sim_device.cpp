#include "sim/sim_device.h"

CSimDevice::CSimDevice(CSimDeviceSetup setup)
    : m_address(std::move(setup.Address)),
      m_friendlyName(std::move(setup.FriendlyName)),
      m_awayMilliseconds(setup.AwayMilliseconds) {
  m_faults.Arm(setup.Faults);
}

CSimUsbAddress CSimDevice::Address() const {
  std::lock_guard lock(m_mutex);
  return m_address;
}

void CSimDevice::SetAddress(const CSimUsbAddress& address) {
  std::lock_guard lock(m_mutex);
  m_address = address;
}

std::optional<std::string> CSimDevice::FriendlyName() const {
  std::lock_guard lock(m_mutex);
  return m_friendlyName;
}

void CSimDevice::SetFriendlyName(std::optional<std::string> name) {
  std::lock_guard lock(m_mutex);
  m_friendlyName = std::move(name);
}

std::uint32_t CSimDevice::AwayMilliseconds() const {
  std::lock_guard lock(m_mutex);
  return m_awayMilliseconds;
}

void CSimDevice::SetAwayMilliseconds(std::uint32_t milliseconds) {
  std::lock_guard lock(m_mutex);
  m_awayMilliseconds = milliseconds;
}

std::string CSimDevice::Identity(const std::string& own) const {
  return m_faults.IdentityOverride().value_or(own);
}

void CSimDevice::ReportViolation(std::uint32_t connection, const std::string& text) {
  {
    std::lock_guard lock(m_mutex);
    m_violations.push_back(text);
  }
  m_transcript.Add(connection, ESimEvent::Note, {}, "violation: " + text);
}

std::vector<std::string> CSimDevice::Violations() const {
  std::lock_guard lock(m_mutex);
  return m_violations;
}
