// The wizard program asked for its version: it answers on standard output and opens no window.

#include <gtest/gtest.h>

#include <string>

#include "support/run_program.h"

namespace {

TEST(WizardProgram, PrintsItsVersionWithoutAWindow) {
  // No display, and a platform that needs one: a program that started its window system here
  // would end with an error instead of the version.
  int status = -1;
  std::string out = RunProgram("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " TAVRIX_BIN_DIR
                               "/tavrix-update --version 2>&1",
                               status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "tavrix-update 3.36\n");
}

}  // namespace
