#include "platform/wire_trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/text_format.h"

namespace {

struct TraceSink {
  std::mutex mutex;
  bool configured = false;
  std::FILE* file = nullptr;
};

TraceSink& Sink() {
  static TraceSink sink;
  return sink;
}

// Opens (or closes) the trace file; the caller holds the mutex.
void OpenFile(TraceSink& sink, const std::string& path) {
  if (sink.file != nullptr) std::fclose(sink.file);
  sink.file = path.empty() ? nullptr : std::fopen(path.c_str(), "a");
  sink.configured = true;
}

std::FILE* FileLocked(TraceSink& sink) {
  if (!sink.configured) {
    const char* path = std::getenv("TAVRIX_TRACE");
    OpenFile(sink, path != nullptr ? path : "");
  }
  return sink.file;
}

std::string TimeStamp() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t seconds = system_clock::to_time_t(now);
  auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  return FormatText("%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                    local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                    static_cast<int>(millis));
}

void WriteLine(std::string_view link, const std::string& body) {
  TraceSink& sink = Sink();
  std::lock_guard lock(sink.mutex);
  std::FILE* file = FileLocked(sink);
  if (file == nullptr) return;
  std::fprintf(file, "%s  %.*s  %s\n", TimeStamp().c_str(), static_cast<int>(link.size()),
               link.data(), body.c_str());
  // A trace must survive a crash of the program it explains.
  std::fflush(file);
}

}  // namespace

std::string FormatTransfer(WireDirection direction, const std::uint8_t* data, std::size_t length) {
  std::string line = FormatText("%-3s  %zu ", direction == WireDirection::kOut ? "OUT" : "IN", length);
  static const char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < length; ++i) {
    line += ' ';
    line += kHex[data[i] >> 4];
    line += kHex[data[i] & 0x0F];
  }
  return line;
}

void TraceTransfer(std::string_view link, WireDirection direction, const std::uint8_t* data,
                   std::size_t length) {
  if (!IsWireTraceOn()) return;
  WriteLine(link, FormatTransfer(direction, data, length));
}

void TraceEvent(std::string_view link, std::string_view text) {
  if (!IsWireTraceOn()) return;
  WriteLine(link, "--   " + std::string(text));
}

bool IsWireTraceOn() {
  TraceSink& sink = Sink();
  std::lock_guard lock(sink.mutex);
  return FileLocked(sink) != nullptr;
}

void SetWireTraceFile(const std::string& path) {
  TraceSink& sink = Sink();
  std::lock_guard lock(sink.mutex);
  OpenFile(sink, path);
}
