#include "transport/dev_node_helper.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include "emulated_bus_fixture.h"
#include "platform/clock.h"
#include "platform/sysfs_device_tree.h"
#include "platform/wire_trace.h"
#include "support/fake_device_tree.h"
#include "support/temp_folder.h"

namespace {

using Op = DevNodeOperation;

TEST(MatchPattern, IgnoresCaseAndTakesATrailingAsteriskForTheRest) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"Tavrix Quadrel Interface", "Tavrix Quadrel Interface", true},
      {"TAVRIX quadrel INTERFACE", "Tavrix Quadrel Interface", true},
      {"Tavrix Quadrel Interface 2", "Tavrix Quadrel Interface", false},
      {"Tavrix Quadrel", "Tavrix Quadrel Interface", false},
      {"Tavrix ZP4711-1M MK Interface", "tavrix zp*", true},
      {"Tavrix Z", "Tavrix Z*", true},
      {"Tavrix", "Tavrix Z*", false},
      {"", "*", true},
      {"", "", true},
      {"a", "", false},
      {"Tavrix?", "Tavrix?", true},
      {"TavrixX", "Tavrix?", false},  // no single-character wildcard
      {"abc", "a*c", true},           // everything after the asterisk is ignored
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CDevNodeHelper::MatchPattern(c.text, c.pattern), c.match) << c.text << " / " << c.pattern;
  }
  EXPECT_FALSE(CDevNodeHelper::MatchPattern(nullptr, "x"));
  EXPECT_FALSE(CDevNodeHelper::MatchPattern("x", nullptr));
}

// root
// ├── hub (removable, "Generic Hub")
// │   ├── quadrel (not removable, "Tavrix Quadrel Interface")
// │   └── other ("Tavrix MOTREVO", removable)
// ├── fixed (not removable, "Tavrix Kinetra")
// └── usb1a (removable, "TAVRIX ZQ1184-2B INTERFACE"), below it: nameless child
struct WalkTree {
  WalkTree() {
    auto tree = std::make_unique<CFakeDeviceTree>();
    m_tree = tree.get();
    m_hub = m_tree->AddNode(0, "USB\\HUB\\1", "Generic Hub", DN_REMOVABLE);
    m_quadrel = m_tree->AddNode(m_hub, "USB\\VID_ABCD&PID_7D2A\\1", "Tavrix Quadrel Interface", 0);
    m_other = m_tree->AddNode(m_hub, "USB\\VID_ABCD&PID_4C17\\1", "Tavrix MOTREVO", DN_REMOVABLE);
    m_fixed = m_tree->AddNode(0, "USB\\VID_ABCD&PID_3351\\1", "Tavrix Kinetra", 0);
    m_usb1a = m_tree->AddNode(0, "USB\\VID_ABCD&PID_1184\\1", "TAVRIX ZQ1184-2B INTERFACE", DN_REMOVABLE);
    m_nameless = m_tree->AddNode(m_usb1a, "USB\\VID_ABCD&PID_1184\\1&IF0", std::nullopt, DN_REMOVABLE);
    m_helper = std::make_unique<CDevNodeHelper>(std::move(tree));
  }

  int Eject(const std::string& pattern, bool friendlyNames = true) {
    return m_helper->EjectByName(pattern, friendlyNames, m_systemError, m_matches);
  }

  CFakeDeviceTree* m_tree;
  DevNode m_hub, m_quadrel, m_other, m_fixed, m_usb1a, m_nameless;
  std::unique_ptr<CDevNodeHelper> m_helper;
  std::uint32_t m_systemError = 99;
  unsigned m_matches = 99;
};

class WalkTest : public ::testing::Test, protected WalkTree {};

TEST_F(WalkTest, MatchBelowARemovableAncestorEjectsTheAncestor) {
  EXPECT_EQ(Eject("tavrix quadrel interface"), CDevNodeHelper::kDone);
  EXPECT_EQ(m_tree->EjectRequests(), std::vector<DevNode>{m_hub});
  EXPECT_EQ(m_matches, 1u);
  EXPECT_EQ(m_systemError, 0u);
}

TEST_F(WalkTest, TrailingAsteriskMatchesByPrefixInAnyCase) {
  EXPECT_EQ(Eject("Tavrix Z*"), CDevNodeHelper::kDone);
  EXPECT_EQ(m_tree->EjectRequests(), std::vector<DevNode>{m_usb1a});
  EXPECT_EQ(Eject("Tavrix M*"), CDevNodeHelper::kDone);
  EXPECT_EQ(Eject("tavrix q*"), CDevNodeHelper::kDone);
  EXPECT_EQ(m_tree->EjectRequests(), (std::vector<DevNode>{m_usb1a, m_other, m_hub}));
}

TEST_F(WalkTest, TwoMatchingDevicesBothGetAnEjectRequest) {
  m_tree->NodeAt(m_other).friendlyName = "Tavrix Quadrel Interface";
  m_tree->NodeAt(m_usb1a).friendlyName = "Tavrix Quadrel Interface";
  EXPECT_EQ(Eject("Tavrix Quadrel Interface"), CDevNodeHelper::kDone);
  EXPECT_EQ(m_matches, 3u);
  EXPECT_EQ(m_tree->EjectRequests(), (std::vector<DevNode>{m_hub, m_other, m_usb1a}));
}

TEST_F(WalkTest, DeviceIdsCanBeMatchedInsteadOfNames) {
  EXPECT_EQ(Eject("usb\\vid_abcd&pid_1184\\1&if0", false), CDevNodeHelper::kDone);
  EXPECT_EQ(m_tree->EjectRequests(), std::vector<DevNode>{m_nameless});
}

TEST_F(WalkTest, AnEmptyPatternWalksWithoutEjecting) {
  EXPECT_EQ(Eject(""), CDevNodeHelper::kDone);
  EXPECT_TRUE(m_tree->EjectRequests().empty());
  EXPECT_EQ(m_matches, 0u);
}

TEST_F(WalkTest, FailuresEndTheWalkWithTheirCodes) {
  struct Case {
    const char* what;
    std::function<void(WalkTree&)> setUp;
    const char* pattern;
    int result;
    std::uint32_t systemError;
  };
  const Case cases[] = {
      {"a function is missing", [](WalkTree& t) { t.m_tree->Remove(Op::kRequestEject); },
       "Tavrix MOTREVO", CDevNodeHelper::kFunctionMissing, 0},
      {"no node matches", [](WalkTree&) {}, "Tavrix Quadrel Interface 2", CDevNodeHelper::kNoMatch, 0},
      {"nothing removable", [](WalkTree&) {}, "tavrix kinetra", CDevNodeHelper::kNotRemovable, 0},
      {"problem code", [](WalkTree& t) { t.m_tree->NodeAt(t.m_hub).problem = 43; },
       "Tavrix Quadrel Interface", CDevNodeHelper::kProblemCode, 43},
      {"status query", [](WalkTree& t) { t.m_tree->Fail(Op::kGetStatus, t.m_other, CR_FAILURE); },
       "x", CDevNodeHelper::kStatusFailed, CR_FAILURE},
      {"id size query", [](WalkTree& t) { t.m_tree->Fail(Op::kGetDeviceIdSize, t.m_fixed, CR_FAILURE); },
       "x", CDevNodeHelper::kIdSizeFailed, CR_FAILURE},
      {"id query", [](WalkTree& t) { t.m_tree->Fail(Op::kGetDeviceId, t.m_nameless, CR_ACCESS_DENIED); },
       "x", CDevNodeHelper::kIdFailed, CR_ACCESS_DENIED},
      {"child query", [](WalkTree& t) { t.m_tree->Fail(Op::kGetChild, t.m_hub, CR_FAILURE); },
       "x", CDevNodeHelper::kChildFailed, CR_FAILURE},
      {"sibling query", [](WalkTree& t) { t.m_tree->Fail(Op::kGetSibling, t.m_quadrel, CR_FAILURE); },
       "x", CDevNodeHelper::kSiblingFailed, CR_FAILURE},
      {"no root", [](WalkTree& t) { t.m_tree->Fail(Op::kLocateRoot, 0, CR_FAILURE); },
       "x", CDevNodeHelper::kNoRoot, CR_FAILURE},
      {"eject refused", [](WalkTree& t) { t.m_tree->Fail(Op::kRequestEject, t.m_other, CR_FAILURE); },
       "Tavrix MOTREVO", CDevNodeHelper::kEjectFailed, CR_FAILURE},
      {"eject vetoed", [](WalkTree& t) { t.m_tree->Veto(t.m_usb1a, 6); },
       "Tavrix ZQ1184-2B Interface", CDevNodeHelper::kEjectVetoed, 6},
  };
  for (const auto& c : cases) {
    WalkTree fresh;
    c.setUp(fresh);
    EXPECT_EQ(fresh.Eject(c.pattern), c.result) << c.what;
    EXPECT_EQ(fresh.m_systemError, c.systemError) << c.what;
  }
}

TEST_F(WalkTest, AFailureAfterAnEjectStopsTheRestOfTheWalk) {
  m_tree->Fail(Op::kGetStatus, m_fixed, CR_FAILURE);
  EXPECT_EQ(Eject("Tavrix*"), CDevNodeHelper::kStatusFailed);
  EXPECT_EQ(m_tree->EjectRequests(), (std::vector<DevNode>{m_hub, m_other}));
  EXPECT_EQ(m_matches, 2u);
}

TEST_F(WalkTest, NodesThatVanishDuringTheStatusQueryAreStillWalked) {
  m_tree->Fail(Op::kGetStatus, m_quadrel, CR_NO_SUCH_DEVNODE);
  EXPECT_EQ(Eject("Tavrix Quadrel Interface"), CDevNodeHelper::kDone);
  EXPECT_EQ(m_tree->EjectRequests(), std::vector<DevNode>{m_hub});
}

TEST_F(WalkTest, DeviceNameIsCutToItsBuffer) {
  std::string name = "stale";
  EXPECT_TRUE(m_helper->GetDeviceName("USB\\VID_ABCD&PID_7D2A\\1", name, 7));
  EXPECT_EQ(name, "Tavrix");
  EXPECT_FALSE(m_helper->GetDeviceName("USB\\VID_ABCD&PID_1184\\1&IF0", name));
  EXPECT_EQ(name, "");
  EXPECT_FALSE(m_helper->GetDeviceName("", name));
  EXPECT_FALSE(m_helper->GetDeviceName("USB\\VID_ABCD&PID_7D2A\\1", name, 0));
}

TEST(EjectDevice, ResultsOfTheWholeRequest) {
  auto tree = [] {
    auto fake = std::make_unique<CFakeDeviceTree>();
    fake->AddNode(0, "USB\\1", "Tavrix MOTREVO", DN_REMOVABLE);
    return fake;
  };
  EXPECT_EQ(EjectDevice("Tavrix MOTREVO", tree()), 0);
  EXPECT_EQ(EjectDevice("Tavrix Kinetra", tree()), kEjectWalkFailed);
  EXPECT_EQ(EjectDevice("Tavrix MOTREVO", nullptr), kEjectTreeMissing);
  CDevNodeHelper without(nullptr);
  EXPECT_EQ(without.LoadResult(), CDevNodeHelper::kNotLoaded);
}

// A sysfs folder as the kernel lays it out, built by the test.
class SysfsTreeTest : public ::testing::Test {
 protected:
  SysfsTreeTest() : m_root(m_directory.Path() + "/devices") {}

  void Device(const std::string& name, std::optional<std::string> product, const char* removable) {
    std::filesystem::create_directories(m_root + "/" + name);
    if (product) std::ofstream(m_root + "/" + name + "/product") << *product << "\n";
    if (removable != nullptr) std::ofstream(m_root + "/" + name + "/removable") << removable << "\n";
    std::ofstream(m_root + "/" + name + "/authorized") << "1\n";
  }
  std::string Authorized(const std::string& name) {
    return CSysfsDeviceTree::ReadAttribute(m_root + "/" + name + "/authorized").value_or("?");
  }

  CTempBusDirectory m_directory;
  std::string m_root;
};

TEST_F(SysfsTreeTest, EjectsTheNearestRemovableDeviceByReauthorisingIt) {
  Device("usb1", "Root Hub", "unknown");
  Device("1-1", "Generic Hub", "removable");
  Device("1-1.4", "Tavrix Quadrel Interface", "fixed");
  Device("1-1:1.0", std::nullopt, nullptr);  // an interface, not a node
  Device("1-2", "Tavrix MOTREVO", "fixed");
  Device("1-10", "tavrix quadrel interface", "unknown");
  for (const char* name : {"1-1", "1-1.4", "1-2", "1-10"}) {
    std::ofstream(m_root + "/" + name + "/authorized") << "untouched\n";
  }

  CSysfsDeviceTree tree(m_root);
  ASSERT_EQ(tree.NodeCount(), 6u) << "root, usb1 and four devices";
  DevNode child = 0;
  ASSERT_EQ(tree.GetChild(0, child), CR_SUCCESS);
  EXPECT_EQ(tree.NodeAt(child).id, "usb1");
  EXPECT_EQ(tree.NodeAt(child).status & DN_REMOVABLE, 0u) << "a root hub belongs to the computer";

  CDevNodeHelper helper(std::make_unique<CSysfsDeviceTree>(m_root));
  std::uint32_t systemError = 0;
  unsigned matches = 0;
  EXPECT_EQ(helper.EjectByName("Tavrix Quadrel Interface", true, systemError, matches), CDevNodeHelper::kDone);
  EXPECT_EQ(matches, 2u);
  EXPECT_EQ(Authorized("1-1"), "1") << "the removable hub above the fixed match";
  EXPECT_EQ(Authorized("1-10"), "1") << "a port that cannot tell counts as removable";
  EXPECT_EQ(Authorized("1-1.4"), "untouched");
  EXPECT_EQ(Authorized("1-2"), "untouched");

  CDevNodeHelper again(std::make_unique<CSysfsDeviceTree>(m_root));
  EXPECT_EQ(again.EjectByName("Tavrix MOTREVO", true, systemError, matches), CDevNodeHelper::kNotRemovable);
}

TEST_F(SysfsTreeTest, UnwritableAuthorisationFallsBackToAPortReset) {
  Device("usb2", "Root Hub", nullptr);
  Device("2-3", "Tavrix MOTREVO", "removable");
  std::filesystem::remove(m_root + "/2-3/authorized");
  std::filesystem::create_directory(m_root + "/2-3/authorized");  // cannot be written

  std::vector<std::string> resets;
  auto reset = [&](const std::string& name) {
    resets.push_back(name);
    return true;
  };
  EXPECT_EQ(EjectDevice("Tavrix MOTREVO", std::make_unique<CSysfsDeviceTree>(m_root)), kEjectWalkFailed);
  EXPECT_EQ(EjectDevice("Tavrix MOTREVO", std::make_unique<CSysfsDeviceTree>(m_root, reset)), 0);
  EXPECT_EQ(resets, std::vector<std::string>{"2-3"});
}

// A kernel that switches the device off but refuses to switch it on the first `refusals` times.
class CRefusingSysfsTree : public CSysfsDeviceTree {
 public:
  CRefusingSysfsTree(std::string root, int refusals, std::function<bool(const std::string&)> portReset)
      : CSysfsDeviceTree(std::move(root), std::move(portReset)), m_refusals(refusals) {}

 protected:
  bool WriteAuthorized(const std::string& name, const char* value, int& error) const override {
    if (std::string(value) == "1" && m_refusals > 0) {
      --m_refusals;
      error = EIO;
      return false;
    }
    return CSysfsDeviceTree::WriteAuthorized(name, value, error);
  }

 private:
  mutable int m_refusals;
};

TEST_F(SysfsTreeTest, ADeviceThatStaysSwitchedOffIsRetriedResetAndReported) {
  enum class Reset { kNone, kBringsItBack, kLeavesItOff };
  const struct {
    const char* what;
    int refusals;
    Reset reset;
    int result;
    const char* authorized;
    std::size_t resets;
    const char* traced;
  } cases[] = {
      {"the last try succeeds", 2, Reset::kNone, CDevNodeHelper::kDone, "1", 0, "try 2 of 3"},
      {"a port reset brings it back", 3, Reset::kBringsItBack, CDevNodeHelper::kDone, "1", 1,
       "a port reset switched the device on again"},
      {"a port reset leaves it off", 3, Reset::kLeavesItOff, CDevNodeHelper::kLeftSwitchedOff, "0", 1,
       "the device stays switched off after a port reset"},
      {"no port reset", 3, Reset::kNone, CDevNodeHelper::kLeftSwitchedOff, "0", 0,
       "the device stays switched off; a port reset was not possible"},
  };
  for (const auto& c : cases) {
    Device("usb2", "Root Hub", nullptr);
    Device("2-3", "Tavrix MOTREVO", "removable");
    std::vector<std::string> resets;
    std::function<bool(const std::string&)> reset;
    if (c.reset != Reset::kNone) {
      reset = [&, bringsBack = c.reset == Reset::kBringsItBack](const std::string& name) {
        resets.push_back(name);
        if (bringsBack) std::ofstream(m_root + "/" + name + "/authorized") << "1\n";
        return true;
      };
    }
    CVirtualClock clock;
    CClockScope clockScope(clock);
    const std::string tracePath = m_directory.Path() + "/trace.txt";
    std::filesystem::remove(tracePath);
    SetWireTraceFile(tracePath);
    CDevNodeHelper helper(std::make_unique<CRefusingSysfsTree>(m_root, c.refusals, reset));
    std::uint32_t systemError = 0;
    unsigned matches = 0;
    EXPECT_EQ(helper.EjectByName("Tavrix MOTREVO", true, systemError, matches), c.result) << c.what;
    SetWireTraceFile("");
    EXPECT_EQ(systemError, c.result == CDevNodeHelper::kDone ? 0u : std::uint32_t{CR_DEVICE_NOT_THERE}) << c.what;
    EXPECT_EQ(Authorized("2-3"), c.authorized) << c.what;
    EXPECT_EQ(resets.size(), c.resets) << c.what;
    EXPECT_EQ(clock.Waits(), (std::vector<std::uint32_t>{100, 100})) << c.what << ": a pause between tries";
    std::string trace = ReadWholeFile(tracePath);
    EXPECT_NE(trace.find("2-3  --   eject: authorized=1 failed (Input/output error), try 1 of 3"),
              std::string::npos) << c.what << "\n" << trace;
    EXPECT_NE(trace.find(c.traced), std::string::npos) << c.what << "\n" << trace;
  }
}

TEST(SysfsTree, MissingSysfsHasNoRoot) {
  CDevNodeHelper helper(std::make_unique<CSysfsDeviceTree>("/nonexistent/sys/bus/usb/devices"));
  std::uint32_t systemError = 0;
  unsigned matches = 0;
  EXPECT_EQ(helper.EjectByName("Tavrix*", true, systemError, matches), CDevNodeHelper::kNoRoot);
}

class EmulatedTreeTest : public EmulatedBusTest {};

TEST_F(EmulatedTreeTest, DevicesAreRemovableChildrenOfOneRootAndEjectSendsTheResetFrame) {
  auto& named = AddDevice(0x7D2A, "a", false, "Tavrix Quadrel Interface");
  auto& nameless = AddDevice(0x4C17, "b", true);
  auto tree = m_bus.OpenDeviceTree();
  // Sorted by name: "pid_4c17" before "pid_7d2a".
  DevNode first = 0;
  ASSERT_EQ(tree->GetChild(0, first), CR_SUCCESS);
  std::string id;
  ASSERT_EQ(tree->GetDeviceId(first, id), CR_SUCCESS);
  EXPECT_EQ(id, nameless.DevicePath());
  EXPECT_EQ(tree->FriendlyName(id), std::nullopt);
  DevNode second = 0;
  ASSERT_EQ(tree->GetSibling(first, second), CR_SUCCESS);
  std::uint32_t status = 0, problem = 7;
  ASSERT_EQ(tree->GetStatus(second, status, problem), CR_SUCCESS);
  EXPECT_EQ(status, DN_REMOVABLE);
  EXPECT_EQ(problem, 0u);
  ASSERT_EQ(tree->GetDeviceId(second, id), CR_SUCCESS);
  EXPECT_EQ(tree->FriendlyName(id), std::optional<std::string>("Tavrix Quadrel Interface"));
  DevNode none = 0;
  EXPECT_EQ(tree->GetChild(first, none), CR_NO_SUCH_DEVNODE);
  EXPECT_EQ(tree->GetSibling(second, none), CR_NO_SUCH_DEVNODE);

  EXPECT_EQ(EjectDevice("TAVRIX QUADREL INTERFACE"), 0);
  EXPECT_TRUE(named.WaitUntil([&] { return named.Ejects() == 1; }));
  EXPECT_EQ(nameless.Ejects(), 0);
  EXPECT_TRUE(named.Received().empty()) << "the reset frame is no data";
}

}  // namespace
