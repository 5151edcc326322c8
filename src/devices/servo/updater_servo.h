#pragma once
// The updater of the servo trainer: it connects to the control unit (which must be switched
// to OFF), reports its firmware and application versions, reprograms the control unit when
// the catalog names newer firmware, and downloads the drive application (the project folder
// of the attached drive) when the catalog names a newer application.

#include <cstdint>
#include <string>

#include "devices/servo/drive.h"
#include "updater/updater.h"

class CUpdaterServo : public CUpdater {
 public:
  // The control unit whose firmware is sent by the C28xx program download; every other one
  // takes the segment download.
  static constexpr const char* kC28xxControlUnitId = "ZP2290-8E";

  // `log` receives every failure of the drive; it must outlive the updater.
  explicit CUpdaterServo(CDownloadLog& log = TheDownloadLog()) : m_drive(log) {}

  // Connected and identified, and the control unit at OFF.
  bool Connect() override;
  bool ConnectAgain() override { return m_drive.ConnectAgain(); }
  std::uint16_t GetFirmwareVersion() override { return m_drive.GetFirmwareVersion(); }
  std::uint16_t GetApplicationVersion() override { return m_drive.GetApplicationVersion(); }
  // The firmware when it is older than the record's (then the control unit is connected
  // again), then the application when it is older; the control unit is closed when nothing
  // more is to be sent.
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;
  bool Finish() override;
  std::string DownloadLog() const override { return m_drive.Log().Text(); }
  // The firmware the control unit reported when it was connected again after its firmware.
  std::optional<std::uint16_t> VersionAfterUpdate() const override { return m_versionAfterUpdate; }

  const CDrive& Drive() const { return m_drive; }

 private:
  bool ProgramFirmware(const DeviceRecord& record);

  CDrive m_drive;
  std::optional<std::uint16_t> m_versionAfterUpdate;
};
