#include "support/test_updater.h"

#include "updater/updater_registry.h"

TestUpdaterScript& TestUpdater() {
  static TestUpdaterScript script;
  return script;
}

CTestUpdater::CTestUpdater() { ++TestUpdater().created; }

CTestUpdater::~CTestUpdater() { ++TestUpdater().destroyed; }

bool CTestUpdater::Connect() {
  ++TestUpdater().connects;
  if (!TestUpdater().connectThrows.empty()) throw CTestLinkException(TestUpdater().connectThrows);
  if (TestUpdater().onConnect) return TestUpdater().onConnect();
  return TestUpdater().connectResult;
}

bool CTestUpdater::ConnectAgain() {
  ++TestUpdater().connectsAgain;
  m_metAgain = TestUpdater().connectAgainResult;
  return m_metAgain;
}

std::uint16_t CTestUpdater::GetFirmwareVersion() {
  if (!TestUpdater().versionThrows.empty()) throw CTestLinkException(TestUpdater().versionThrows);
  if (m_metAgain && TestUpdater().takenFirmware) return *TestUpdater().takenFirmware;
  return TestUpdater().firmware;
}

std::uint16_t CTestUpdater::GetApplicationVersion() {
  ++TestUpdater().applicationReads;
  if (m_metAgain && TestUpdater().takenApplication) return *TestUpdater().takenApplication;
  return TestUpdater().application;
}

bool CTestUpdater::Update(const DeviceRecord& record, IFlashProgress* progress) {
  ++TestUpdater().updates;
  TestUpdater().updatedWith = record;
  if (TestUpdater().duringUpdate) TestUpdater().duringUpdate(*progress);
  if (!TestUpdater().updateThrows.empty()) throw CTestLinkException(TestUpdater().updateThrows);
  if (TestUpdater().updateResult && TestUpdater().takesUpdate) {
    // As the updater of an entry with an application: the firmware only when it was older.
    if (!record.HasApplication || TestUpdater().firmware < record.FirmwareVersion) TestUpdater().takenFirmware = record.FirmwareVersion;
    if (record.HasApplication) TestUpdater().takenApplication = record.ApplicationVersion;
  }
  return TestUpdater().updateResult;
}

CTestUpdaterRegistration::CTestUpdaterRegistration() {
  TestUpdater() = TestUpdaterScript{};
  RegisterUpdater<CTestUpdater> registration(CTestUpdater::kClassName);
}

CTestUpdaterRegistration::~CTestUpdaterRegistration() {
  UpdaterRegistry::Instance().Unregister(CTestUpdater::kClassName);
}
