// The wizard program asked for its version: it answers on standard output and opens no window.

#include <gtest/gtest.h>

#include <sys/wait.h>

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

// Without a display the wizard says so and points to the terminal front end, with the usage
// error status, instead of aborting; with a display that cannot be reached as well.
TEST(WizardProgram, WithoutADisplayItSaysSoAndEndsWithStatus2) {
  for (const char* environment : {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM",
                                  "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:98765"}) {
    SCOPED_TRACE(environment);
    int status = -1;
    const std::string out = RunProgram(std::string(environment) + " XDG_CONFIG_HOME=/nonexistent " TAVRIX_BIN_DIR
                                       "/tavrix-update /lang 1033 2>&1 </dev/null",
                                       status);
    EXPECT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 2) << out;
    EXPECT_NE(out.find("tavrix-update: There is no display"), std::string::npos) << out;
    EXPECT_NE(out.find("tavrix-update-cli"), std::string::npos) << out;
  }
  // In the language the command line names.
  int status = -1;
  const std::string german = RunProgram("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " TAVRIX_BIN_DIR
                                        "/tavrix-update /lang 1031 2>&1 </dev/null",
                                        status);
  EXPECT_NE(german.find("tavrix-update: Es gibt keine Anzeige"), std::string::npos) << german;
}
