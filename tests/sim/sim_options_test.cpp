#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include "sim/sim_error.h"

namespace {

TEST(SimOptions, DeviceDescriptionsSplitIntoKindAndOptions) {
  CSimDeviceDescription description = ParseSimDeviceDescription(
      R"(scripted:pid=0x1234,name="Demo, \"big\" box",flag,rule=02>'a b'00,)");
  EXPECT_EQ(description.Kind, "scripted");
  EXPECT_EQ(description.Options.TakeText("pid"), "0x1234");
  EXPECT_EQ(description.Options.TakeText("name"), "Demo, \"big\" box");
  EXPECT_EQ(description.Options.TakeFlag("flag"), true);
  EXPECT_EQ(description.Options.TakeAll("rule"), std::vector<std::string>{"02>'a b'00"});
  EXPECT_TRUE(description.Options.Unused().empty());
  EXPECT_EQ(ParseSimDeviceDescription("scripted").Kind, "scripted");

  for (const char* bad :
       {"", ":pid=1", R"(s:name="abc)", R"(s:name="a"b)", "s:=1", "s:pid=1,,x=2"}) {
    EXPECT_THROW(ParseSimDeviceDescription(bad), CSimError) << bad;
  }
}

TEST(SimOptions, GenericOptionsMakeTheSetupOverTheFamilysDefaults) {
  CSimDeviceSetup defaults;
  defaults.Address.ProductId = 0x7D2A;
  defaults.Address.Generation = ESimGeneration::First;
  defaults.FriendlyName = "Tavrix Quadrel Interface";

  CSimOptions none;
  CSimDeviceSetup same = none.TakeSetup(defaults);
  EXPECT_EQ(same.Address.DevicePath(), defaults.Address.DevicePath());
  EXPECT_EQ(same.FriendlyName, defaults.FriendlyName);

  CSimOptions options = ParseSimDeviceDescription(
                            "k:vid=4660,pid=0x004b,serial=X-1,gen=2,name=,away_ms=250,refuse_ack=3,"
                            "refuse_ack=5,close_after=100,stall_after=0x10,identity=ZR9046-3C")
                            .Options;
  CSimDeviceSetup setup = options.TakeSetup(defaults);
  EXPECT_EQ(setup.Address.DevicePath(),
            "usb#vid_1234&pid_004b#X-1#{5b1e2c47-9d03-4a6f-8e21-3c7d90b4f152}");
  EXPECT_FALSE(setup.FriendlyName.has_value());  // name= empty: no .name file
  EXPECT_EQ(setup.AwayMilliseconds, 250u);
  EXPECT_EQ(setup.Faults.RefusedAcknowledgements, (std::set<std::uint32_t>{3, 5}));
  EXPECT_EQ(setup.Faults.CloseAfterBytes, 100u);
  EXPECT_EQ(setup.Faults.StallAfterBytes, 16u);
  EXPECT_EQ(setup.Faults.Identity, "ZR9046-3C");
  EXPECT_TRUE(options.Unused().empty());

  for (const char* bad :
       {"k:pid=0x10000", "k:pid=-1", "k:pid=12x", "k:pid=", "k:pid=0x", "k:gen=3", "k:serial=a/b",
        "k:serial=", "k:refuse_ack=0", "k:pid=1,pid=2", "k:away_ms=4294967296"}) {
    CSimOptions bad_options = ParseSimDeviceDescription(bad).Options;
    EXPECT_THROW(bad_options.TakeSetup(defaults), CSimError) << bad;
  }
}

}  // namespace
