#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_tree.h"
#include "transport/stream_usb.h"
#include "wizard/wizard_state.h"

namespace {

constexpr char kDevicePath[] = "usb#vid_abcd&pid_7d2a#1-2#{0c4d7e91-2b6a-4f38-9c05-d18e6a27b3f4}";

// A bus with one first-generation device that writes down, in order, every handle it opens,
// every handle that is closed and its own end. A handle outliving its bus is what a driver
// library shut down under an open device looks like.
class CRecordingBus : public IUsbBus {
 public:
  explicit CRecordingBus(std::vector<std::string>& log) : m_log(log) {}
  ~CRecordingBus() override { m_log.push_back("bus destroyed"); }

  std::string Description() const override { return "recording bus"; }
  std::unique_ptr<IUsbInterfaceList> ListInterfaces(std::string_view) override {
    return std::make_unique<CUsbInterfaceVector>(std::vector<std::string>{kDevicePath});
  }
  std::unique_ptr<IUsbHandle> Open(const std::string& path, UsbAccess, UsbOpenError*) override {
    std::string name = path.substr(path.rfind('#') + 1);
    m_log.push_back("open " + name);
    return std::make_unique<CHandle>(m_log, name);
  }
  std::string FriendlyName(const std::string&) override { return {}; }
  bool Eject(const std::string&) override { return false; }
  std::unique_ptr<IDeviceTree> OpenDeviceTree() override { return nullptr; }

 private:
  class CHandle : public IUsbHandle {
   public:
    CHandle(std::vector<std::string>& log, std::string name) : m_log(log), m_name(std::move(name)) {}
    ~CHandle() override { m_log.push_back("close " + m_name); }
    long ReadPacket(std::uint8_t*, std::size_t) override { return -1; }
    long WritePacket(const std::uint8_t*, std::size_t length) override { return static_cast<long>(length); }

   private:
    std::vector<std::string>& m_log;
    std::string m_name;
  };

  std::vector<std::string>& m_log;
};

class CTransport : public CStreamUSB {
 public:
  std::string GetProductName() override { return "Tavrix Quadrel Interface"; }
  std::uint16_t GetProductId() override { return 0x7D2A; }
};

// An updater left holding its device open, as one is after an up-to-date check, after some
// downloads, or after Cancel on the flash page.
class CHoldingUpdater : public CUpdater {
 public:
  CHoldingUpdater() { EXPECT_TRUE(m_transport.Open()); }
  bool Connect() override { return true; }
  std::uint16_t GetFirmwareVersion() override { return 0; }
  bool Update(const DeviceRecord&, IFlashProgress*) override { return true; }

 private:
  CTransport m_transport;
};

TEST(ProgramBus, TheUpdaterAndItsTransportAreDestroyedBeforeTheBus) {
  CVirtualClock clock;
  CClockScope clockScope(clock);
  ResetWizardState();
  std::vector<std::string> log;
  {
    CProgramBus bus(std::make_unique<CRecordingBus>(log));
    TheWizardState().Updater = std::make_unique<CHoldingUpdater>();
    EXPECT_EQ(UsbBus().Description(), "recording bus");
  }
  // The probe and the two pipes were opened, and each was closed before the bus ended.
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "bus destroyed");
  std::multiset<std::string> opened;
  std::multiset<std::string> closed;
  for (const std::string& entry : log) {
    if (entry.rfind("open ", 0) == 0) opened.insert(entry.substr(5));
    if (entry.rfind("close ", 0) == 0) closed.insert(entry.substr(6));
  }
  EXPECT_EQ(opened.size(), 3u);
  EXPECT_EQ(closed, opened);
  EXPECT_EQ(TheWizardState().Updater, nullptr);
  EXPECT_NE(UsbBus().Description(), "recording bus") << "the bus is no longer in use";
}

}  // namespace
