#pragma once
// The progress sink an updater reports to while it programs a device.

#include <cstdint>
#include <string>

class IFlashProgress {
 public:
  virtual ~IFlashProgress() = default;
  // Shows the progress bar and sets its range.
  virtual void SetRange(std::uint16_t lower, std::uint16_t upper) = 0;
  // Sets the bar position, then pumps messages; returns PumpMessages' result.
  virtual bool SetPos(int position) = 0;
  // Switches the bar to indeterminate animation; visibility is unchanged.
  virtual void SetMarquee() = 0;
  // Formats printf-style and shows the result as the status line.
  void SetStatusText(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Shows the text as the detail line.
  virtual void SetDetailText(const std::string& text) = 0;
  // Dispatches pending messages; false when a quit request was met.
  virtual bool PumpMessages() = 0;
  // Names the project an application download sends (its folder) and what it holds (string
  // 36, "%d files to download (%d kByte)", already formatted). A sink without a place for it
  // ignores it.
  virtual void ShowProject(const std::string& /*folder*/, const std::string& /*summary*/) {}

 protected:
  // Shows an already formatted status line.
  virtual void ShowStatusText(const std::string& text) = 0;
};
