#pragma once
// The wire trace: every transfer of every transport (direction, length, bytes in hex, time of
// day), one line each, appended to the file named by TAVRIX_TRACE. It is what a person who
// debugs a device reads. Off when the variable is unset or empty.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class WireDirection { kOut, kIn };

// Records one transfer on `link` (a device path, a host:port, ...) when the trace is on.
void TraceTransfer(std::string_view link, WireDirection direction, const std::uint8_t* data,
                   std::size_t length);
// Records an event without data (a failed transfer, an open, a reset) when the trace is on.
void TraceEvent(std::string_view link, std::string_view text);

bool IsWireTraceOn();

// Writes the trace to `path` from now on (empty: off). Without a call, the first trace line
// takes the file from TAVRIX_TRACE.
void SetWireTraceFile(const std::string& path);

// One trace line without its time stamp and line end: "OUT  5  02 0b 1f 00 00".
std::string FormatTransfer(WireDirection direction, const std::uint8_t* data, std::size_t length);
