#include "devices/servo/updater_servo.h"

#include <strings.h>

#include "devices/downloads/c28xx_program.h"
#include "devices/downloads/segment_download.h"
#include "devices/servo/flash_regions_servo.h"
#include "updater/device_catalog.h"
#include "updater/flash_progress.h"

bool CUpdaterServo::Connect() {
  return m_drive.OpenAndIdentify() == CStreamDevice::kConnected && m_drive.CheckSwitchState(false);
}

bool CUpdaterServo::Update(const DeviceRecord& record, IFlashProgress* progress) {
  if (m_drive.GetFirmwareVersion() < record.FirmwareVersion) {
    if (!ProgramFirmware(record)) return false;
    if (m_drive.OpenAndIdentify() != CStreamDevice::kConnected) return false;
    m_versionAfterUpdate = m_drive.GetFirmwareVersion();
  }
  if (record.HasApplication && m_drive.GetApplicationVersion() < record.ApplicationVersion) {
    if (progress != nullptr) progress->SetMarquee();
    return m_drive.DownloadApplication(progress);
  }
  m_drive.CloseDevice();
  return true;
}

bool CUpdaterServo::ProgramFirmware(const DeviceRecord& record) {
  if (m_drive.Stream() == nullptr) return false;
  if (strcasecmp(record.Id.c_str(), kC28xxControlUnitId) == 0) {
    return CFlashUpdateC28XX(m_drive.Stream()).ProgramFile(record.FirmwarePath, true);
  }
  return CFlashUpdateSeg(m_drive.Stream()).UpdateFromFile(record.FirmwarePath, kFlashRegionsServo);
}

bool CUpdaterServo::Finish() {
  m_drive.CloseDevice();
  return true;
}
