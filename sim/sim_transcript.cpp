#include "sim/sim_transcript.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/text_format.h"
#include "sim/sim_error.h"

const char* SimEventName(ESimEvent event) {
  switch (event) {
    case ESimEvent::Connect:
      return "connect";
    case ESimEvent::Out:
      return "out";
    case ESimEvent::In:
      return "in";
    case ESimEvent::HostClose:
      return "host-close";
    case ESimEvent::DeviceClose:
      return "device-close";
    case ESimEvent::Eject:
      return "eject";
    case ESimEvent::Away:
      return "away";
    case ESimEvent::Back:
      return "back";
    case ESimEvent::Note:
      return "note";
  }
  return "?";
}

void CSimTranscript::Add(std::uint32_t connection, ESimEvent event, std::vector<std::uint8_t> bytes,
                         std::string text) {
  CSimTranscriptEntry entry{Clock().TickCount(), connection, event, std::move(bytes),
                            std::move(text)};
  std::lock_guard lock(m_mutex);
  if (m_file.is_open()) {
    if (!m_fileStarted) {
      m_fileStarted = true;
      m_fileStart = entry.Time;
    }
    m_file << FormatEntry(entry, m_fileStart) << '\n' << std::flush;
  }
  m_entries.push_back(std::move(entry));
  m_changed.notify_all();
}

void CSimTranscript::Remark(const std::string& text) {
  std::lock_guard lock(m_mutex);
  if (m_file.is_open()) m_file << "# " << text << '\n' << std::flush;
}

CSimTranscript::Entries_t CSimTranscript::Entries() const {
  std::lock_guard lock(m_mutex);
  return m_entries;
}

std::vector<std::vector<std::uint8_t>> CSimTranscript::Frames(ESimEvent direction) const {
  std::lock_guard lock(m_mutex);
  std::vector<std::vector<std::uint8_t>> frames;
  for (const auto& entry : m_entries) {
    if (entry.Event == direction) frames.push_back(entry.Bytes);
  }
  return frames;
}

std::size_t CSimTranscript::Count(ESimEvent event) const {
  std::lock_guard lock(m_mutex);
  return static_cast<std::size_t>(std::count_if(
      m_entries.begin(), m_entries.end(), [event](const auto& e) { return e.Event == event; }));
}

void CSimTranscript::Clear() {
  std::lock_guard lock(m_mutex);
  m_entries.clear();
}

bool CSimTranscript::WaitFor(const std::function<bool(const Entries_t&)>& predicate,
                             std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return predicate(m_entries); });
}

bool CSimTranscript::WaitForCount(ESimEvent event, std::size_t count,
                                  std::chrono::milliseconds timeout) const {
  return WaitFor(
      [event, count](const Entries_t& entries) {
        return static_cast<std::size_t>(
                   std::count_if(entries.begin(), entries.end(),
                                 [event](const auto& e) { return e.Event == event; })) >= count;
      },
      timeout);
}

void CSimTranscript::WriteTo(const std::filesystem::path& path, const std::string& title) {
  std::lock_guard lock(m_mutex);
  m_file.close();
  m_file.open(path, std::ios::out | std::ios::trunc);
  if (!m_file) throw CSimError("cannot create the transcript file " + path.string());
  m_file << "# " << title << '\n' << std::flush;
  m_fileStarted = false;
}

std::string CSimTranscript::FormatEntry(const CSimTranscriptEntry& entry, std::uint64_t startTime) {
  std::uint64_t time = entry.Time >= startTime ? entry.Time - startTime : 0;
  std::string line = FormatText("%8llu ms  #%-3u %-12s", static_cast<unsigned long long>(time),
                                entry.Connection, SimEventName(entry.Event));
  if (entry.Event == ESimEvent::Out || entry.Event == ESimEvent::In) {
    line += FormatText(" %4zu ", entry.Bytes.size());
    std::string printable;
    for (std::uint8_t byte : entry.Bytes) {
      line += FormatText(" %02X", byte);
      printable += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '.';
    }
    if (!entry.Bytes.empty()) line += "  |" + printable + "|";
  }
  if (!entry.Text.empty()) line += " " + entry.Text;
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

std::string CSimTranscript::Text() const {
  Entries_t entries = Entries();
  std::string text;
  std::uint64_t start = entries.empty() ? 0 : entries.front().Time;
  for (const auto& entry : entries) text += FormatEntry(entry, start) + "\n";
  return text;
}
