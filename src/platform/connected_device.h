#pragma once
// The device the program's transport last opened: its stable id and its path (a USB device
// path, or the address of a network unit). The update's record and the terminal's report name
// the device by it.

#include <string>

struct ConnectedDevice {
  std::string id;
  std::string path;
};

void NoteConnectedDevice(ConnectedDevice device);
ConnectedDevice LastConnectedDevice();
// Forgets the device (a new update begins).
void ForgetConnectedDevice();
