#pragma once
// The downloads' unit tests: a memory transport whose answers are queued in advance, the
// virtual clock and the scripted user interface, and a folder for image files.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/string_table.h"
#include "support/image_files.h"
#include "support/memory_stream.h"
#include "support/scripted_user_interface.h"

class DownloadTest : public ::testing::Test {
 protected:
  using Bytes = std::vector<std::uint8_t>;

  DownloadTest() : m_clockScope(m_clock) {
    SetUiLanguage(LANG_ENGLISH);
    m_stream.Open();
  }

  // `count` acknowledgements queued as the device's answers.
  void Acknowledge(std::size_t count) { m_stream.Answer(Bytes(count, CStreamIO::kAck)); }

  std::vector<std::string> Shown(const std::string& kind) const {
    std::vector<std::string> texts;
    for (const auto& shown : m_ui.Record()) {
      if (shown.kind == kind) texts.push_back(shown.text);
    }
    return texts;
  }

  CVirtualClock m_clock;
  CClockScope m_clockScope;
  CScriptedUserInterface m_ui;
  CMemoryStream m_stream;
  image_test::CTempFolder m_folder;
};
