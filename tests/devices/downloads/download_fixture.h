#pragma once
// The downloads' unit tests: a memory transport whose answers are queued in advance (also under
// a family's protocol object), the virtual clock and the scripted user interface, and a folder
// for image files.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/string_table.h"
#include "support/image_files.h"
#include "support/memory_stream.h"
#include "support/scripted_user_interface.h"

// A family's protocol object over a memory transport instead of USB: `memory` holds the
// device's queued answers and what the object wrote.
template <class TInterface>
class CMemoryInterface : public TInterface {
 public:
  template <class... TArgs>
  explicit CMemoryInterface(TArgs&&... args) : TInterface(std::forward<TArgs>(args)...) {
    auto stream = std::make_unique<CMemoryStream>();
    stream->Open();
    memory = stream.get();
    this->m_stream = std::move(stream);
  }
  CMemoryStream* memory;
};

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

  // An image the download must refuse: `file` is written as "bad" + the extension (a missing
  // file when empty), and the one message shown must contain `expected`.
  struct RefusedImage {
    const char* name;
    std::string file;
    std::string expected;
  };
  // Runs `download` on each image: false, one message, nothing sent, no reset.
  void ExpectRefusedBeforeSending(const std::vector<RefusedImage>& images, const std::string& extension,
                                  const std::function<bool(CMemoryStream&, const std::string&)>& download) {
    for (const RefusedImage& image : images) {
      CScriptedUserInterface ui;
      CMemoryStream stream;
      stream.Open();
      std::string path = image.file.empty() ? m_folder / ("missing" + extension)
                                            : m_folder.Write("bad" + extension, image.file);
      EXPECT_FALSE(download(stream, path)) << image.name;
      EXPECT_TRUE(stream.written.empty()) << image.name;
      EXPECT_EQ(stream.resets, 0) << image.name;
      ASSERT_EQ(ui.MessageTexts().size(), 1u) << image.name;
      EXPECT_NE(ui.MessageTexts()[0].find(image.expected), std::string::npos) << ui.MessageTexts()[0];
    }
  }

  CVirtualClock m_clock;
  CClockScope m_clockScope;
  CScriptedUserInterface m_ui;
  CMemoryStream m_stream;
  CTempFolder m_folder;
};
