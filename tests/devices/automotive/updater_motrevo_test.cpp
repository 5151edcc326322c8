// CUpdaterMotrevo, created by class name, against the simulated trainer in-process on the
// virtual clock: every byte that crosses the wire, the waits, what the trainer took, and the
// ends the update can take.

#include <gtest/gtest.h>

#include <algorithm>

#include "devices/automotive/motrevo.h"
#include "platform/string_table.h"
#include "sim/demo_firmware.h"
#include "sim/devices/automotive/sim_motrevo.h"
#include "sim/sim_test_support.h"
#include "support/temp_folder.h"
#include "updater/device_catalog.h"
#include "updater/updater_registry.h"

namespace {

using namespace std::chrono_literals;

// Two records, an end record, and a line the trainer never gets to.
const std::string kHeader = "S00600004844521B";
const std::string kData = "S1070100AABBCCDDE9";
const std::string kEnd = "S9030000FC";

class UpdaterMotrevoTest : public SimUsbBusTest {
 protected:
  UpdaterMotrevoTest() { SetUiLanguage(LANG_ENGLISH); }

  CSimMotrevo& Plug(const std::string& options = {}) {
    return PlugDescribed<CSimMotrevo>("motrevo:firmware=105" + (options.empty() ? "" : "," + options));
  }
  // A connected updater; the clock's waits start afterwards.
  std::unique_ptr<CUpdater> Connected() {
    std::unique_ptr<CUpdater> updater = UpdaterRegistry::Instance().Create("CUpdaterMotrevo");
    EXPECT_NE(updater, nullptr);
    EXPECT_TRUE(updater->Connect());
    m_clock.ClearWaits();
    return updater;
  }
  bool UpdateWith(CUpdater& updater, const std::string& text) {
    DeviceRecord record;
    record.FirmwarePath = m_files.Write("firmware.srec", text);
    return updater.Update(record, nullptr);
  }
  // The frames of one direction (the host's by default), connection after connection in
  // connect order. (Each connection's thread writes its own entries, so connections may
  // interleave in the transcript.)
  std::vector<std::string> HostFrames(ESimEvent direction = ESimEvent::Out) const {
    std::vector<CSimTranscriptEntry> entries = m_server->Device().Transcript().Entries();
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.Connection < b.Connection; });
    std::vector<std::string> frames;
    for (const auto& entry : entries) {
      if (entry.Event == direction) frames.emplace_back(entry.Bytes.begin(), entry.Bytes.end());
    }
    return frames;
  }
  std::vector<std::string> AnimationTexts() const {
    std::vector<std::string> texts;
    for (const auto& shown : m_ui.Record()) {
      if (shown.kind == "animation-text") texts.push_back(shown.text);
    }
    return texts;
  }

  CTempFolder m_files;
};

TEST_F(UpdaterMotrevoTest, RestartsIntoTheLoaderAndSendsLineByLineUntilTheTrainerIsDone) {
  CSimMotrevo& device = Plug();
  std::unique_ptr<CUpdater> updater = Connected();
  EXPECT_EQ(updater->GetFirmwareVersion(), 105);

  ASSERT_TRUE(UpdateWith(*updater, kHeader + "\r\n" + kData + "\r\n\r\n" + kEnd + "\r\nS5030004F8\r\n"));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  EXPECT_EQ(HostFrames(), (std::vector<std::string>{"\x0B", "\x32", "\x0B", kHeader, kData, "", kEnd}))
      << "the empty line is a write of no bytes; nothing after the trainer's 0xAA";
  const std::string identity = std::string("ZRxxxx-xx.105.015.003") + '\0';
  EXPECT_EQ(HostFrames(ESimEvent::In), (std::vector<std::string>{identity, identity, "!", "!", "!", "\xAA"}));
  EXPECT_EQ(m_clock.Waits(), std::vector<std::uint32_t>{5000}) << "the restart, and nothing else";
  const std::vector<CSimMotrevoDownload> downloads = device.Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_TRUE(downloads[0].Complete);
  EXPECT_EQ(downloads[0].Lines, (std::vector<std::string>{kHeader, kData, "", kEnd}));
  EXPECT_TRUE(device.Violations().empty());
  EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{});
  EXPECT_EQ(AnimationTexts(), (std::vector<std::string>{"Loading data..", "Transmitting data"}));
}

TEST_F(UpdaterMotrevoTest, TheDemoFirmwareLeavesTheTrainerOnItsVersion) {
  CSimMotrevo& device = Plug();
  std::unique_ptr<CUpdater> updater = Connected();
  DeviceRecord record;
  record.FirmwarePath = (m_files.Path() / "motrevo.srec").string();
  WriteDemoFirmware("CUpdaterMotrevo", 312, record.FirmwarePath);
  ASSERT_TRUE(updater->Update(record, nullptr));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  updater.reset();
  EXPECT_EQ(Connected()->GetFirmwareVersion(), 312);
}

TEST_F(UpdaterMotrevoTest, EndsWithSuccessWhenTheFileEndsBeforeTheTrainerSaysDone) {
  CSimMotrevo& device = Plug();
  std::unique_ptr<CUpdater> updater = Connected();
  EXPECT_TRUE(UpdateWith(*updater, kHeader + "\n" + kData));
  EXPECT_EQ(HostFrames().back(), kData);
  EXPECT_FALSE(device.Downloads().at(0).Ended) << "the trainer still waits for its end record";
}

TEST_F(UpdaterMotrevoTest, ARefusedLineEndsTheUpdateAndSaysSo) {
  CSimMotrevo& device = Plug("refuse_ack=2");
  std::unique_ptr<CUpdater> updater = Connected();
  EXPECT_FALSE(UpdateWith(*updater, kHeader + "\n" + kData + "\n" + kEnd + "\n"));
  ASSERT_TRUE(device.WaitForEndedDownloads(1, 10s));
  EXPECT_EQ(HostFrames().back(), kData) << "nothing after the refusal";
  EXPECT_FALSE(device.Downloads().at(0).Complete);
  EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{LoadResString(CStreamIO::kNotAcceptedMessage)});
}

TEST_F(UpdaterMotrevoTest, ATrainerThatDoesNotComeBackFailsWithTheCommandNotAccepted) {
  Plug("no_loader");
  std::unique_ptr<CUpdater> updater = Connected();
  m_ui.QueueInterfaceAnswer(2);  // Exit Program
  EXPECT_FALSE(UpdateWith(*updater, kHeader + "\n"));
  EXPECT_EQ(m_ui.MessageTexts(), std::vector<std::string>{"The interface did not accept the command sended."});
  EXPECT_EQ(HostFrames(), (std::vector<std::string>{"\x0B", "\x32", "\x0B"}));
}

TEST_F(UpdaterMotrevoTest, AFileThatCannotBeOpenedSendsNothing) {
  Plug();
  std::unique_ptr<CUpdater> updater = Connected();
  DeviceRecord record;
  record.FirmwarePath = (m_files.Path() / "missing.srec").string();
  EXPECT_FALSE(updater->Update(record, nullptr));
  EXPECT_EQ(m_ui.MessageTexts().size(), 1u);
  EXPECT_EQ(HostFrames(), std::vector<std::string>{"\x0B"});
}

}  // namespace
