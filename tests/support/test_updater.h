#pragma once
// An updater the tests register under a name of their own, driven by a script: what Connect
// returns or throws, the versions the device reports, what Update does.

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "updater/device_catalog.h"
#include "updater/updater.h"

class IFlashProgress;

// A device-link failure as the transport raises it: a std::exception with the message text.
class CTestLinkException : public std::exception {
 public:
  explicit CTestLinkException(std::string message) : m_message(std::move(message)) {}
  const char* what() const noexcept override { return m_message.c_str(); }

 private:
  std::string m_message;
};

struct TestUpdaterScript {
  bool connectResult = true;
  std::function<bool()> onConnect;  // when set, Connect returns what it returns
  std::string connectThrows;  // non-empty: Connect throws a CTestLinkException with this text
  std::string versionThrows;  // non-empty: GetFirmwareVersion throws
  std::uint16_t firmware = 0;
  std::uint16_t application = 0;
  bool updateResult = true;
  std::string updateThrows;
  std::function<void(IFlashProgress&)> duringUpdate;
  std::string downloadLog;
  std::optional<std::uint16_t> versionAfterUpdate;  // what the device reports after the update
  // A successful Update leaves the device reporting the versions it was given (the catalog's
  // firmware, and its application when the entry has one) once it is met again, as a device
  // that took them whole. The script's own versions stay for the next run.
  bool takesUpdate = true;
  std::optional<std::uint16_t> takenFirmware;
  std::optional<std::uint16_t> takenApplication;
  bool connectAgainResult = true;  // what ConnectAgain returns

  int created = 0;
  int destroyed = 0;
  int connects = 0;
  int connectsAgain = 0;
  int applicationReads = 0;
  int updates = 0;
  DeviceRecord updatedWith;
};

TestUpdaterScript& TestUpdater();

class CTestUpdater : public CUpdater {
 public:
  static constexpr const char* kClassName = "CTestUpdater";
  CTestUpdater();
  ~CTestUpdater() override;
  bool Connect() override;
  bool ConnectAgain() override;
  std::uint16_t GetFirmwareVersion() override;
  std::uint16_t GetApplicationVersion() override;
  bool Update(const DeviceRecord& record, IFlashProgress* progress) override;
  std::string DownloadLog() const override { return TestUpdater().downloadLog; }
  std::optional<std::uint16_t> VersionAfterUpdate() const override { return TestUpdater().versionAfterUpdate; }

 private:
  bool m_metAgain = false;  // ConnectAgain succeeded: the taken versions are reported
};

// Registers CTestUpdater for the length of a scope, with a fresh script.
class CTestUpdaterRegistration {
 public:
  CTestUpdaterRegistration();
  ~CTestUpdaterRegistration();
  CTestUpdaterRegistration(const CTestUpdaterRegistration&) = delete;
  CTestUpdaterRegistration& operator=(const CTestUpdaterRegistration&) = delete;
};
