#include "updater/updater_registry.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <stdexcept>

#include "support/test_updater.h"
#include "updater/device_catalog.h"
#include "updater/updater.h"
#include "wizard/wizard_state.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() { ResetWizardState(); }
  ~RegistryTest() override {
    UpdaterRegistry::Instance().Unregister("CThrowing");
    UpdaterRegistry::Instance().Unregister("CNull");
    ResetWizardState();
  }
  CTestUpdaterRegistration m_registration;
};

TEST_F(RegistryTest, ExactNameCreatesTheCurrentUpdater) {
  ASSERT_TRUE(CreateUpdater("CTestUpdater"));
  EXPECT_NE(dynamic_cast<CTestUpdater*>(TheWizardState().Updater.get()), nullptr);
  // The next one replaces it; the old one is gone first.
  ASSERT_TRUE(CreateUpdater("CTestUpdater"));
  EXPECT_EQ(TestUpdater().created, 2);
  EXPECT_EQ(TestUpdater().destroyed, 1);
}

TEST_F(RegistryTest, NamesThatDoNotMatchExactlyLeaveNoUpdater) {
  for (const char* name : {"ctestupdater", "CTESTUPDATER", "CTestUpdater ", "", "CUpdater", "CUpdater2A",
                           "CUpdaterTCPIP", "cupdater2a1", "CUpdater2A1 "}) {
    ASSERT_TRUE(CreateUpdater("CTestUpdater"));
    EXPECT_FALSE(CreateUpdater(name)) << name;
    EXPECT_EQ(TheWizardState().Updater, nullptr) << name;
  }
  EXPECT_EQ(TestUpdater().destroyed, TestUpdater().created);
}

TEST_F(RegistryTest, FailingFactoryLeavesNoUpdater) {
  UpdaterRegistry::Instance().Register("CThrowing", []() -> std::unique_ptr<CUpdater> {
    throw std::runtime_error("no memory");
  });
  UpdaterRegistry::Instance().Register("CNull", [] { return std::unique_ptr<CUpdater>(); });
  for (const char* name : {"CThrowing", "CNull"}) {
    ASSERT_TRUE(CreateUpdater("CTestUpdater"));
    EXPECT_FALSE(CreateUpdater(name)) << name;
    EXPECT_EQ(TheWizardState().Updater, nullptr);
  }
}

TEST_F(RegistryTest, UnregisteredNameIsUnknownAgain) {
  UpdaterRegistry::Instance().Unregister("CTestUpdater");
  EXPECT_FALSE(CreateUpdater("CTestUpdater"));
}

TEST(Updater, Defaults) {
  struct CMinimal : CUpdater {
    bool Connect() override { return true; }
    std::uint16_t GetFirmwareVersion() override { return 1; }
    bool Update(const DeviceRecord&, IFlashProgress*) override { return true; }
  } updater;
  EXPECT_EQ(updater.GetApplicationVersion(), 0);
  EXPECT_TRUE(updater.Finish());
  EXPECT_EQ(updater.DownloadLog(), "");
}

TEST(Version, Format) {
  const std::pair<std::uint16_t, const char*> cases[] = {
      {123, "1.23"}, {1005, "10.05"}, {7, "0.07"}, {0, "0.00"}, {305, "3.05"}, {65535, "655.35"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatVersion(value), text) << value;
}

struct DecisionCase {
  std::uint16_t catalogFirmware;
  bool hasApplication;
  std::uint16_t catalogApplication;
  std::uint16_t deviceFirmware;
  std::uint16_t deviceApplication;
  bool needed;
};

TEST(Version, Decision) {
  const DecisionCase cases[] = {
      {123, false, 0, 123, 0, false},    // equal: up to date
      {123, false, 0, 122, 0, true},     // older firmware
      {123, false, 0, 200, 0, false},    // newer counts as up to date
      {123, true, 10, 123, 9, true},     // older application
      {123, true, 10, 122, 10, true},    // older firmware, current application
      {123, true, 10, 123, 10, false},   // both current
      {123, true, 10, 124, 9, true},     // newer firmware does not make up for the application
      {0, false, 0, 0, 0, false},        // version 0 in the catalog: never older
      {65535, false, 0, 65534, 0, true},  // unsigned comparison at the top of the range
      {123, false, 50, 123, 0, false},   // an application version without HasApplication is not read
  };
  for (const DecisionCase& c : cases) {
    DeviceRecord record;
    record.FirmwareVersion = c.catalogFirmware;
    record.HasApplication = c.hasApplication;
    record.ApplicationVersion = c.catalogApplication;
    EXPECT_EQ(NeedsProgramming(record, c.deviceFirmware, c.deviceApplication), c.needed)
        << c.catalogFirmware << "/" << c.catalogApplication << " vs " << c.deviceFirmware << "/" << c.deviceApplication;
  }
}

}  // namespace

// A family whose sources were left out of the build would link fine and only say "Could not
// create Updater." at run time: every class the demo catalog names must be there.
TEST(UpdaterRegistryTest, EveryUpdaterTheDemoCatalogNamesIsBuiltIn) {
  pugi::xml_document catalog;
  ASSERT_TRUE(catalog.load_file(TAVRIX_SOURCE_DIR "/resources/demo/tavrix-update.config"));
  pugi::xpath_node_set devices = catalog.select_nodes("/Config/Devices/Device[@RTC]");
  ASSERT_FALSE(devices.empty());
  for (const pugi::xpath_node& device : devices) {
    const std::string className = device.node().attribute("RTC").value();
    EXPECT_NE(UpdaterRegistry::Instance().Create(className), nullptr) << className;
  }
}
