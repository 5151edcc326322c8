#include "net/udp_connect_dlg.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/string_table.h"
#include "platform/text_format.h"
#include "platform/user_interface.h"
#include "platform/wait_cursor.h"

namespace {
constexpr int kEmptyAddressMessage = 20019;
}  // namespace

std::string HostResolveError(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (error == 0) {
    ::freeaddrinfo(found);
    return {};
  }
  const char* text = ::gai_strerror(error);
  return text != nullptr && *text != '\0' ? std::string(text) : FormatText("HRESULT 0x%8.8x", error);
}

bool IsUnspecifiedAddress(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
  bool unspecified = false;
  if (found->ai_family == AF_INET) {
    unspecified = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr == htonl(INADDR_ANY);
  } else if (found->ai_family == AF_INET6) {
    unspecified = IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(found->ai_addr)->sin6_addr);
  }
  ::freeaddrinfo(found);
  return unspecified;
}

CUdpConnectDlg::CUdpConnectDlg(std::uint16_t deviceType, std::uint16_t configurationType,
                               CNotifySinkTrace* traceSink)
    : m_deviceType(deviceType), m_configurationType(configurationType), m_discovery(traceSink) {}

std::string CUdpConnectDlg::Text(int controlId) const {
  return LoadResString(DialogStringId(kTemplateId, controlId));
}

void CUdpConnectDlg::FindDevices() {
  CWaitCursor wait;
  Search();
  ShowFound();
}

void CUdpConnectDlg::Search() {
  // Only the discovery is touched here: a front end runs this on a worker while its own
  // thread may still read the list and the selection.
  m_discovery.Search(m_deviceType, false);
}

void CUdpConnectDlg::ShowFound() {
  m_items.clear();
  m_selection = -1;
  for (const auto& device : m_discovery.Devices()) {
    m_items.push_back(FormatText("%s (%s)", device->DisplayName().c_str(), device->IpText().c_str()));
  }
}

void CUdpConnectDlg::Select(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= m_items.size()) {
    m_selection = -1;
    return;
  }
  m_selection = index;
  address = m_discovery.Device(index).IpText();
}

void CUdpConnectDlg::Identify() {
  if (m_selection >= 0) m_discovery.IdentifyDevice(m_selection);
}

std::optional<int> CUdpConnectDlg::PressOk(const std::string& addressText) {
  // The preset 0.0.0.0 is no unit's address: connecting to it would reach this computer.
  if (addressText.empty() || IsUnspecifiedAddress(addressText)) {
    UserInterface().MessageBox(LoadResString(kEmptyAddressMessage), MB_OK | MB_ICONWARNING);
    return std::nullopt;
  }
  if (std::string error = HostResolveError(addressText); !error.empty()) {
    UserInterface().MessageBox(error, MB_OK | MB_ICONERROR);
    return std::nullopt;
  }
  address = addressText;
  return IDOK;
}

int CUdpConnectDlg::Cancel() const { return IDCANCEL; }

int CUdpConnectDlg::DoModal() { return UserInterface().RunConnectDialog(*this); }
