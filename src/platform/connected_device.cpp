#include "platform/connected_device.h"

#include <mutex>

namespace {

std::mutex g_mutex;
ConnectedDevice g_device;

}  // namespace

void NoteConnectedDevice(ConnectedDevice device) {
  std::lock_guard lock(g_mutex);
  g_device = std::move(device);
}

ConnectedDevice LastConnectedDevice() {
  std::lock_guard lock(g_mutex);
  return g_device;
}

void ForgetConnectedDevice() { NoteConnectedDevice({}); }
