#pragma once
// tavrix-devsim as a child process for end-to-end tests: started with the given arguments,
// stopped (SIGTERM) when the object goes.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

// Its first output line tells that the (first) device is served.
class CDevSim {
 public:
  explicit CDevSim(const std::vector<std::string>& args)
      : m_process(std::string(TAVRIX_BIN_DIR) + "/tavrix-devsim", args) {
    EXPECT_TRUE(m_process.Started());
  }

  // The first line of output, waiting at most 10 s for it.
  std::optional<std::string> FirstLine() { return m_process.ReadLine(std::chrono::seconds(10)); }

 private:
  CChildProcess m_process;
};
