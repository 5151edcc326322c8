#include "sim/devsim_config.h"

#include <gtest/gtest.h>

#include <fstream>

#include "sim/sim_error.h"

namespace {

TEST(DevSimConfig, CommandLineOptionsApplyInOrder) {
  CDevSimConfig config =
      ParseDevSimArguments({"--bus=/tmp/b1", "--device", "scripted:pid=1", "--transcript", "/tmp/t",
                            "--wait-scale", "0.25", "--bus", "/tmp/b2", "--device=scripted:pid=2"});
  EXPECT_EQ(config.Bus, std::filesystem::path("/tmp/b2"));
  EXPECT_EQ(config.TranscriptDirectory, std::filesystem::path("/tmp/t"));
  EXPECT_EQ(config.WaitScale, 0.25);
  EXPECT_EQ(config.Devices, (std::vector<std::string>{"scripted:pid=1", "scripted:pid=2"}));
  EXPECT_FALSE(config.Help);

  const std::vector<std::string> bad[] = {
      {"--bogus", "1"}, {"--bus"}, {"--wait-scale", "2"}, {"--wait-scale", "x"}, {"stray"}};
  for (const auto& args : bad) EXPECT_THROW(ParseDevSimArguments(args), CSimError) << args[0];
}

class DevSimConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavrix-devsim-config-XXXXXX";
    m_folder = ::mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }
  std::filesystem::path Write(const std::string& text) {
    std::filesystem::path path = m_folder / "devsim.conf";
    std::ofstream(path) << text;
    return path;
  }
  std::filesystem::path m_folder;
};

TEST_F(DevSimConfigFile, IndentedLinesContinueTheDeviceAbove) {
  std::filesystem::path file = Write(
      "# the demo bench\n"
      "bus /tmp/bus\n"
      "\n"
      "device scripted:pid=0x7d2a,gen=1,\n"
      "    name=\"Tavrix Quadrel Interface\"\n"
      "  # a comment between does not end the device\n"
      "\trule=02>'ZR6618-7D 1.07'00\n"
      "device scripted:pid=0x1184\n"
      "wait-scale 0.1\n");
  CDevSimConfig config = ParseDevSimArguments(
      {"--wait-scale", "0.5", "--config", file.string(), "--transcript", "/tmp/t"});
  EXPECT_EQ(config.Bus, std::filesystem::path("/tmp/bus"));
  EXPECT_EQ(config.WaitScale, 0.1);  // the file came after the option
  EXPECT_EQ(
      config.Devices,
      (std::vector<std::string>{
          "scripted:pid=0x7d2a,gen=1,name=\"Tavrix Quadrel Interface\",rule=02>'ZR6618-7D 1.07'00",
          "scripted:pid=0x1184"}));
}

TEST_F(DevSimConfigFile, MistakesNameTheFileAndLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"bus /b\ncolour red\n", "devsim.conf:2: unknown setting colour"},
      {"  rule=02>00\n", "devsim.conf:1: an indented line continues a device line"},
      {"bus /b\n  rule=02>00\n", "devsim.conf:2: an indented line continues a device line"},
      {"device\n", "devsim.conf:1: device needs a value"},
      {"wait-scale 1.5\n", "devsim.conf:1: wait scale 1.5"},
      {"config other.conf\n", "devsim.conf:1: unknown setting config"},
  };
  for (const auto& [text, message] : cases) {
    std::filesystem::path file = Write(text);
    try {
      ParseDevSimArguments({"--config", file.string()});
      ADD_FAILURE() << text;
    } catch (const CSimError& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
  EXPECT_THROW(ParseDevSimArguments({"--config", (m_folder / "missing.conf").string()}), CSimError);
}

}  // namespace
