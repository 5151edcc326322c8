#include "transport/usb_device_classes.h"

#include "platform/text_format.h"
#include "wizard/wizard_state.h"

namespace {

const DeviceRecord& CurrentRecord() { return TheWizardState().Catalog.Record(); }

std::string RecordProductName() {
  const DeviceRecord& record = CurrentRecord();
  return FormatText("Tavrix %s %s", record.Id.c_str(), record.Name.c_str());
}

}  // namespace

bool CServoUSB::Open() {
  m_generation = false;
  if (CStreamUSB::Open()) return true;
  m_generation = true;
  return CStreamUSB::Open();
}

// Each class keeps one text, rebuilt on every call, so it always names the entry selected now.
std::string CMyUsb2::GetProductName() {
  static std::string text;
  text = RecordProductName();
  return text;
}

std::uint16_t CMyUsb2::GetProductId() { return CurrentRecord().UsbPid; }

std::string CUpdaterUsb2::GetProductName() {
  static std::string text;
  text = RecordProductName();
  return text;
}

std::uint16_t CUpdaterUsb2::GetProductId() { return CurrentRecord().UsbPid; }
