#pragma once
// Errors of the simulator set-up (bad options, a bus directory that cannot be used). They end
// tavrix-devsim with the message; device protocol trouble never throws these.

#include <stdexcept>
#include <string>

class CSimError : public std::runtime_error {
 public:
  explicit CSimError(const std::string& message) : std::runtime_error(message) {}
};
