#pragma once
// One appearance of an emulated-bus device as a kernel USB device, from the moment it is
// enumerated until it leaves (unplugged, or ejected and enumerated anew as another
// appearance). It answers the usbdevfs requests on its /dev/bus/usb node through a umockdev
// ioctl handler: claiming the interface connects to the device's socket, releasing it closes
// that connection, and bulk URBs become frames with full-speed semantics:
//   - an OUT URB goes out as frames of at most 256 bytes (an empty URB as an empty frame, a
//     zero-length packet after a full last packet when the URB asks for one);
//   - an IN URB is filled from the device's packets until a short packet or a full buffer;
//     while the device sends nothing the URB stays pending, until the host discards it.
// Control transfers on endpoint 0 are answered from the descriptors.

#include <umockdev.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/usb_bridge/bridge_descriptors.h"

struct usbdevfs_urb;

class CBridgeDevice {
 public:
  // `socketPath` is the device on the emulated bus; `requestEject` is called (on the ioctl
  // handler's thread) when the host resets the device.
  CBridgeDevice(std::filesystem::path socketPath, CBridgeIdentity identity, std::string devNode,
                std::function<void()> requestEject);
  ~CBridgeDevice();
  CBridgeDevice(const CBridgeDevice&) = delete;
  CBridgeDevice& operator=(const CBridgeDevice&) = delete;

  UMockdevIoctlBase* Handler() const { return m_handler; }
  const std::string& DevNode() const { return m_devNode; }
  const CBridgeIdentity& Identity() const { return m_identity; }
  // The device left the bus: its connections close, pending URBs end with -ESHUTDOWN and
  // every further request but reaping what has completed fails with ENODEV.
  void Leave();

  struct Urb;
  struct Client;

 private:
  static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
  static void OnVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);

  bool HandleIoctl(UMockdevIoctlClient* client);
  void Claim(Client& state, UMockdevIoctlClient* client, unsigned interfaceNumber);
  void Submit(Client& state, UMockdevIoctlClient* client);
  void Reap(Client& state, UMockdevIoctlClient* client, bool wait);
  void Discard(Client& state, UMockdevIoctlClient* client);
  void Control(UMockdevIoctlClient* client);
  void SendOut(Client& state, Urb& urb);
  void ReadFrames(Client* state, int fd);
  void Feed(Client& state);
  void Complete(Client& state, Urb urb, int status);
  void ServeWaitingReaper(Client& state);
  // A client's connection to the device, taken out under the lock and closed without it (its
  // reader takes the lock for every frame).
  struct Link {
    int fd = -1;
    std::thread reader;
  };
  Link Detach(Client& state, int urbStatus);
  static void CloseLink(Link link);

  std::filesystem::path m_socketPath;
  CBridgeIdentity m_identity;
  std::string m_devNode;
  std::function<void()> m_requestEject;
  UMockdevIoctlBase* m_handler = nullptr;

  std::mutex m_mutex;
  bool m_gone = false;
  std::map<UMockdevIoctlClient*, std::unique_ptr<Client>> m_clients;
};
