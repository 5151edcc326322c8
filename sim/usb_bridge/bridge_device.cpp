#include "sim/usb_bridge/bridge_device.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

#include "sim/sim_socket.h"

namespace {

constexpr unsigned kOutFrame = 256;  // the largest frame a bulk OUT transfer makes
constexpr unsigned kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

// Sends all of `bytes`; false when the connection is gone.
bool SendAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool SendFrame(int fd, const std::uint8_t* bytes, std::size_t length) {
  std::uint8_t header[2] = {static_cast<std::uint8_t>(length & 0xFF),
                            static_cast<std::uint8_t>(length >> 8)};
  return SendAll(fd, header, sizeof header) && SendAll(fd, bytes, length);
}

bool ReceiveAll(int fd, std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t got = ::recv(fd, bytes, length, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

void Finish(UMockdevIoctlClient* client, long result, int error = 0) {
  umockdev_ioctl_client_complete(client, result, error);
}

// The ioctl's argument resolved as a `size`-byte structure; nullptr when it cannot be read.
UMockdevIoctlData* ResolveArgument(UMockdevIoctlClient* client, std::size_t size) {
  return umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, nullptr);
}

}  // namespace

// A URB the host submitted, with the local copies of it and of its buffer. The copies are
// written back to the host's memory when the URB is reaped.
struct CBridgeDevice::Urb {
  Urb(UMockdevIoctlData* submitArgument, UMockdevIoctlData* urbCopy, UMockdevIoctlData* bufferCopy)
      : argument(submitArgument), urb(urbCopy), buffer(bufferCopy) {}
  Urb(Urb&& other) noexcept
      : argument(std::exchange(other.argument, nullptr)),
        urb(std::exchange(other.urb, nullptr)),
        buffer(std::exchange(other.buffer, nullptr)),
        filled(other.filled) {}
  Urb& operator=(Urb&& other) noexcept {
    std::swap(argument, other.argument);
    std::swap(urb, other.urb);
    std::swap(buffer, other.buffer);
    filled = other.filled;
    return *this;
  }
  ~Urb() {
    for (UMockdevIoctlData* data : {buffer, urb, argument}) {
      if (data != nullptr) g_object_unref(data);
    }
  }
  usbdevfs_urb* Get() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
  std::uint8_t* Bytes() const { return buffer != nullptr ? buffer->data : nullptr; }
  std::size_t Capacity() const { return buffer != nullptr ? static_cast<std::size_t>(buffer->data_len) : 0; }
  bool In() const { return (Get()->endpoint & 0x80) != 0; }

  UMockdevIoctlData* argument;  // the submit request's argument, parent of `urb`
  UMockdevIoctlData* urb;
  UMockdevIoctlData* buffer;  // nullptr for an empty URB
  std::size_t filled = 0;
};

// One open file of the device node.
struct CBridgeDevice::Client {
  bool claimed = false;
  int fd = -1;  // the connection to the device while the interface is claimed
  std::thread reader;
  bool linkDown = false;  // the device closed the connection
  std::deque<std::vector<std::uint8_t>> frames;  // IN packets no URB has taken yet
  std::deque<Urb> pendingIn;
  std::deque<Urb> completed;
  UMockdevIoctlClient* waitingReaper = nullptr;  // a blocking REAPURB (referenced)
};

CBridgeDevice::CBridgeDevice(std::filesystem::path socketPath, CBridgeIdentity identity,
                             std::string devNode, std::function<void()> requestEject)
    : m_socketPath(std::move(socketPath)),
      m_identity(std::move(identity)),
      m_devNode(std::move(devNode)),
      m_requestEject(std::move(requestEject)),
      m_handler(umockdev_ioctl_base_new()) {
  g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(OnIoctl), this);
  g_signal_connect(m_handler, "client-vanished", G_CALLBACK(OnVanished), this);
}

CBridgeDevice::~CBridgeDevice() {
  Leave();
  g_signal_handlers_disconnect_by_data(m_handler, this);
  std::lock_guard lock(m_mutex);
  for (auto& [client, state] : m_clients) {
    if (state->waitingReaper != nullptr) g_object_unref(state->waitingReaper);
  }
  m_clients.clear();
  g_object_unref(m_handler);
}

gboolean CBridgeDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<CBridgeDevice*>(self)->HandleIoctl(client) ? TRUE : FALSE;
}

void CBridgeDevice::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  // Closing the node releases the interface, as the kernel does.
  auto* device = static_cast<CBridgeDevice*>(self);
  std::unique_ptr<Client> state;
  Link link;
  {
    std::lock_guard lock(device->m_mutex);
    auto found = device->m_clients.find(client);
    if (found == device->m_clients.end()) return;
    state = std::move(found->second);
    device->m_clients.erase(found);
    link = device->Detach(*state, -ENOENT);
  }
  CloseLink(std::move(link));  // the reader may still take the lock for a last frame
  if (state->waitingReaper != nullptr) g_object_unref(state->waitingReaper);
}

void CBridgeDevice::Leave() {
  std::vector<Link> links;
  {
    std::lock_guard lock(m_mutex);
    m_gone = true;
    for (auto& [client, state] : m_clients) links.push_back(Detach(*state, -ESHUTDOWN));
  }
  for (auto& link : links) CloseLink(std::move(link));
}

CBridgeDevice::Link CBridgeDevice::Detach(Client& state, int urbStatus) {
  state.claimed = false;
  state.frames.clear();
  while (!state.pendingIn.empty()) {
    Urb urb = std::move(state.pendingIn.front());
    state.pendingIn.pop_front();
    Complete(state, std::move(urb), urbStatus);
  }
  return Link{std::exchange(state.fd, -1), std::move(state.reader)};
}

void CBridgeDevice::CloseLink(Link link) {
  if (link.fd < 0) return;
  ::shutdown(link.fd, SHUT_RDWR);
  if (link.reader.joinable()) link.reader.join();
  ::close(link.fd);
}

bool CBridgeDevice::HandleIoctl(UMockdevIoctlClient* client) {
  unsigned long request = umockdev_ioctl_client_get_request(client);
  std::unique_lock lock(m_mutex);
  auto& slot = m_clients[client];
  if (!slot) slot = std::make_unique<Client>();
  Client& state = *slot;
  bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
  if (m_gone && !reap) {
    Finish(client, -1, ENODEV);
    return true;
  }
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* data = ResolveArgument(client, sizeof(std::uint32_t));
      if (data != nullptr) *reinterpret_cast<std::uint32_t*>(data->data) = kCapabilities;
      Finish(client, data != nullptr ? 0 : -1, data != nullptr ? 0 : EFAULT);
      if (data != nullptr) g_object_unref(data);
      return true;
    }
    case USBDEVFS_GETDRIVER:  // no kernel driver is bound to the interface
    case USBDEVFS_IOCTL: Finish(client, -1, ENODATA); return true;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM: {
      // Both begin with the interface number.
      std::size_t size = request == USBDEVFS_CLAIMINTERFACE ? sizeof(unsigned)
                                                            : sizeof(usbdevfs_disconnect_claim);
      UMockdevIoctlData* data = ResolveArgument(client, size);
      unsigned number = data != nullptr ? *reinterpret_cast<unsigned*>(data->data) : ~0u;
      if (data != nullptr) g_object_unref(data);
      Claim(state, client, number);
      return true;
    }
    case USBDEVFS_RELEASEINTERFACE:
      if (!state.claimed) {
        Finish(client, -1, EINVAL);
        return true;
      }
      {
        Link link = Detach(state, -ENOENT);
        lock.unlock();
        CloseLink(std::move(link));  // the device sees the close before the host goes on
      }
      Finish(client, 0);
      return true;
    case USBDEVFS_SUBMITURB: Submit(state, client); return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: Reap(state, client, request == USBDEVFS_REAPURB); return true;
    case USBDEVFS_DISCARDURB: Discard(state, client); return true;
    case USBDEVFS_CONTROL: Control(client); return true;
    case USBDEVFS_RESET:
      Finish(client, 0);
      lock.unlock();
      m_requestEject();  // the device starts again and is enumerated anew
      return true;
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: Finish(client, 0); return true;
    default: Finish(client, -1, ENOTTY); return true;
  }
}

void CBridgeDevice::Claim(Client& state, UMockdevIoctlClient* client, unsigned interfaceNumber) {
  if (interfaceNumber != 0) {
    Finish(client, -1, ENOENT);
    return;
  }
  if (state.claimed) {
    Finish(client, 0);
    return;
  }
  for (auto& [other, otherState] : m_clients) {
    if (otherState->claimed) {  // another file of the node holds it
      Finish(client, -1, EBUSY);
      return;
    }
  }
  // Claiming the interface is opening the device on the emulated bus.
  int fd = ConnectUnixSocket(m_socketPath);
  if (fd < 0) {
    Finish(client, -1, ENODEV);
    return;
  }
  state.claimed = true;
  state.fd = fd;
  state.linkDown = false;
  state.frames.clear();
  state.reader = std::thread([this, &state, fd] { ReadFrames(&state, fd); });
  Finish(client, 0);
}

void CBridgeDevice::Submit(Client& state, UMockdevIoctlClient* client) {
  UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
  UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
  if (urbData == nullptr) {
    Finish(client, -1, EFAULT);
    return;
  }
  auto* raw = reinterpret_cast<usbdevfs_urb*>(urbData->data);
  UMockdevIoctlData* buffer = nullptr;
  if (raw->buffer_length > 0) {
    buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                         static_cast<gsize>(raw->buffer_length), nullptr);
  }
  Urb urb(static_cast<UMockdevIoctlData*>(g_object_ref(argument)), urbData, buffer);
  usbdevfs_urb* request = urb.Get();
  request->actual_length = 0;
  request->status = 0;

  if (request->type == USBDEVFS_URB_TYPE_CONTROL) {
    if (urb.Capacity() < 8) {
      Finish(client, -1, EINVAL);
      return;
    }
    auto answer = AnswerBridgeControl(m_identity, urb.Bytes());
    if (answer) {
      std::size_t length = std::min(answer->size(), urb.Capacity() - 8);
      std::copy_n(answer->begin(), length, urb.Bytes() + 8);
      urb.filled = length;
    }
    Finish(client, 0);
    Complete(state, std::move(urb), answer ? 0 : -EPIPE);
    return;
  }
  bool in = urb.In();
  std::uint8_t expected = in ? kBridgeInEndpoint : kBridgeOutEndpoint;
  if (request->type != USBDEVFS_URB_TYPE_BULK || request->endpoint != expected) {
    Finish(client, -1, ENOENT);
    return;
  }
  if (!state.claimed) {
    Finish(client, -1, EINVAL);  // the kernel wants the interface claimed first
    return;
  }
  Finish(client, 0);
  if (!in) {
    SendOut(state, urb);
    return;
  }
  state.pendingIn.push_back(std::move(urb));
  Feed(state);
}

void CBridgeDevice::SendOut(Client& state, Urb& urb) {
  // A full-speed bulk OUT transfer: the frames the device sees are at most 256 bytes.
  std::size_t length = urb.Capacity();
  bool sent = !state.linkDown;
  std::size_t offset = 0;
  do {
    std::size_t chunk = std::min<std::size_t>(length - offset, kOutFrame);
    sent = sent && SendFrame(state.fd, urb.Bytes() + offset, chunk);
    offset += chunk;
  } while (sent && offset < length);
  bool zeroPacket = (urb.Get()->flags & USBDEVFS_URB_ZERO_PACKET) != 0 && length > 0 &&
                    length % kBridgePacketSize == 0;
  if (sent && zeroPacket) sent = SendFrame(state.fd, nullptr, 0);
  urb.filled = sent ? length : 0;
  Complete(state, std::move(urb), sent ? 0 : -EPROTO);
}

void CBridgeDevice::ReadFrames(Client* state, int fd) {
  for (;;) {
    std::uint8_t header[2];
    std::vector<std::uint8_t> frame;
    bool ok = ReceiveAll(fd, header, sizeof header);
    if (ok) {
      frame.resize(header[0] | (header[1] << 8));
      ok = ReceiveAll(fd, frame.data(), frame.size());
    }
    std::lock_guard lock(m_mutex);
    if (!ok) {
      // The device closed the connection: what it sent before is still taken, then every
      // waiting URB fails as a transfer error.
      state->linkDown = true;
      Feed(*state);
      return;
    }
    state->frames.push_back(std::move(frame));
    Feed(*state);
  }
}

void CBridgeDevice::Feed(Client& state) {
  while (!state.pendingIn.empty() && !state.frames.empty()) {
    Urb& urb = state.pendingIn.front();
    std::vector<std::uint8_t> frame = std::move(state.frames.front());
    state.frames.pop_front();
    std::size_t room = urb.Capacity() - urb.filled;
    std::size_t take = std::min(frame.size(), room);
    std::copy_n(frame.begin(), take, urb.Bytes() + urb.filled);
    urb.filled += take;
    int status = 0;
    bool done = false;
    if (frame.size() > room || frame.size() > kBridgePacketSize) {
      status = -EOVERFLOW;  // babble: the device sent more than the host asked for
      done = true;
    } else if (frame.size() < kBridgePacketSize) {
      bool shortNotOk = (urb.Get()->flags & USBDEVFS_URB_SHORT_NOT_OK) != 0 && urb.filled < urb.Capacity();
      status = shortNotOk ? -EREMOTEIO : 0;
      done = true;
    } else {
      done = urb.filled == urb.Capacity();
    }
    if (done) {
      Urb finished = std::move(state.pendingIn.front());
      state.pendingIn.pop_front();
      Complete(state, std::move(finished), status);
    }
  }
  if (state.linkDown) {
    while (!state.pendingIn.empty()) {
      Urb urb = std::move(state.pendingIn.front());
      state.pendingIn.pop_front();
      Complete(state, std::move(urb), -EPROTO);
    }
  }
}

void CBridgeDevice::Complete(Client& state, Urb urb, int status) {
  urb.Get()->status = status;
  urb.Get()->actual_length = static_cast<int>(urb.filled);
  state.completed.push_back(std::move(urb));
  ServeWaitingReaper(state);
}

void CBridgeDevice::Reap(Client& state, UMockdevIoctlClient* client, bool wait) {
  if (state.completed.empty()) {
    if (m_gone) {
      Finish(client, -1, ENODEV);
    } else if (wait && state.waitingReaper == nullptr) {
      state.waitingReaper = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
    } else {
      Finish(client, -1, EAGAIN);
    }
    return;
  }
  Urb urb = std::move(state.completed.front());
  state.completed.pop_front();
  // Resolving again marks the copies changed, so that completing the request writes them back
  // into the host's URB; the buffer only for IN data.
  UMockdevIoctlData* again = umockdev_ioctl_data_resolve(urb.argument, 0, sizeof(usbdevfs_urb), nullptr);
  if (again != nullptr) g_object_unref(again);
  if (urb.buffer != nullptr && (urb.In() || urb.Get()->type == USBDEVFS_URB_TYPE_CONTROL)) {
    again = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                        static_cast<gsize>(urb.Capacity()), nullptr);
    if (again != nullptr) g_object_unref(again);
  }
  UMockdevIoctlData* pointer = ResolveArgument(client, sizeof(void*));
  if (pointer == nullptr) {
    Finish(client, -1, EFAULT);
    return;
  }
  umockdev_ioctl_data_set_ptr(pointer, 0, urb.urb);
  Finish(client, 0);
  g_object_unref(pointer);
}

void CBridgeDevice::ServeWaitingReaper(Client& state) {
  if (state.waitingReaper == nullptr) return;
  UMockdevIoctlClient* reaper = std::exchange(state.waitingReaper, nullptr);
  Reap(state, reaper, false);
  g_object_unref(reaper);
}

void CBridgeDevice::Discard(Client& state, UMockdevIoctlClient* client) {
  auto address = *reinterpret_cast<gulong*>(umockdev_ioctl_client_get_arg(client)->data);
  auto found = std::find_if(state.pendingIn.begin(), state.pendingIn.end(),
                            [&](const Urb& urb) { return urb.urb->client_addr == address; });
  if (found == state.pendingIn.end()) {
    Finish(client, -1, EINVAL);  // already completed: it is reaped as it ended
    return;
  }
  Urb urb = std::move(*found);
  state.pendingIn.erase(found);
  Finish(client, 0);
  Complete(state, std::move(urb), -ENOENT);
}

void CBridgeDevice::Control(UMockdevIoctlClient* client) {
  UMockdevIoctlData* data = ResolveArgument(client, sizeof(usbdevfs_ctrltransfer));
  if (data == nullptr) {
    Finish(client, -1, EFAULT);
    return;
  }
  auto* transfer = reinterpret_cast<usbdevfs_ctrltransfer*>(data->data);
  std::uint8_t setup[8] = {transfer->bRequestType, transfer->bRequest,
                           static_cast<std::uint8_t>(transfer->wValue & 0xFF),
                           static_cast<std::uint8_t>(transfer->wValue >> 8),
                           static_cast<std::uint8_t>(transfer->wIndex & 0xFF),
                           static_cast<std::uint8_t>(transfer->wIndex >> 8),
                           static_cast<std::uint8_t>(transfer->wLength & 0xFF),
                           static_cast<std::uint8_t>(transfer->wLength >> 8)};
  auto answer = AnswerBridgeControl(m_identity, setup);
  if (!answer) {
    Finish(client, -1, EPIPE);
  } else if (answer->empty() || (transfer->bRequestType & 0x80) == 0) {
    Finish(client, 0);
  } else {
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        data, offsetof(usbdevfs_ctrltransfer, data), transfer->wLength, nullptr);
    if (buffer != nullptr) {
      std::copy(answer->begin(), answer->end(), buffer->data);
      g_object_unref(buffer);
    }
    Finish(client, buffer != nullptr ? static_cast<long>(answer->size()) : -1,
           buffer != nullptr ? 0 : EFAULT);
  }
  g_object_unref(data);
}
