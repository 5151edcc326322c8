// The udev rule: the packaged one names every product id the program can open, and a lab's
// own catalog gets a rule of its own from the same command.

#include <gtest/gtest.h>

#include "platform/text_format.h"
#include "support/run_program.h"
#include "support/temp_folder.h"
#include "updater/device_catalog.h"
#include "updater/updater_usb_products.h"

namespace {

std::string RuleLine(std::uint16_t productId) {
  return FormatText("ATTR{idProduct}==\"%04x\", ATTR{product}==\"Tavrix*\", TAG+=\"uaccess\"\n", productId);
}

TEST(UdevRule, ThePackagedRuleNamesEveryProductIdTheProgramOpens) {
  const std::string rule = ReadWholeFile(TAVRIX_BIN_DIR "/../packaging/udev/70-tavrix-update.rules");
  ASSERT_FALSE(rule.empty());
  std::vector<std::uint16_t> ids = RegisteredUsbProducts();
  DeviceCatalog::SetCatalogFile(TAVRIX_BIN_DIR "/tavrix-update.config");
  DeviceCatalog catalog;
  ASSERT_TRUE(catalog.OpenCatalog());
  for (const DeviceRecord& entry : catalog.Entries()) {
    for (std::uint16_t id : UsbProductsOf(entry.ClassName, entry.UsbPid)) ids.push_back(id);
  }
  DeviceCatalog::SetCatalogFile({});
  // The families that take their id from the catalog are in it too.
  for (std::uint16_t id : {0x4D4B, 0x5503, 0xA7B0}) EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end());
  for (std::uint16_t id : ids) EXPECT_NE(rule.find(RuleLine(id)), std::string::npos) << FormatText("%04x", id);
}

TEST(UdevRule, ALabsOwnCatalogGetsItsProductIds) {
  CTempFolder folder;
  std::string catalog = folder.Write("lab.config",
                                     "<Config><Devices><Device Id='LAB-MK' RTC='CUpdaterMK' USBPID='0x1234'>"
                                     "<Name>MK</Name></Device></Devices></Config>");
  int status = -1;
  std::string rule = RunProgram(TAVRIX_BIN_DIR "/tavrix-update-cli --catalog '" + catalog + "' udev-rule", status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(rule.find("# second driver generation: LAB-MK\n" + RuleLine(0x1234)), std::string::npos) << rule;
  EXPECT_NE(rule.find(RuleLine(0x7D2A)), std::string::npos) << "the families' own ids stay";
  EXPECT_TRUE(rule.ends_with("LABEL=\"tavrix_update_end\"\n"));
}

}  // namespace
