#include "sim/sim_options.h"

#include <cerrno>
#include <cstdlib>

#include "sim/sim_error.h"

void CSimOptions::Add(std::string key, std::string value) {
  m_options.push_back({std::move(key), std::move(value), false});
}

bool CSimOptions::Has(const std::string& key) const {
  for (const auto& option : m_options) {
    if (option.Key == key) return true;
  }
  return false;
}

std::optional<std::string> CSimOptions::TakeText(const std::string& key) {
  std::optional<std::string> value;
  for (auto& option : m_options) {
    if (option.Key != key) continue;
    if (value) throw CSimError("option " + key + " is given more than once");
    value = option.Value;
    option.Used = true;
  }
  return value;
}

std::vector<std::string> CSimOptions::TakeAll(const std::string& key) {
  std::vector<std::string> values;
  for (auto& option : m_options) {
    if (option.Key != key) continue;
    values.push_back(option.Value);
    option.Used = true;
  }
  return values;
}

namespace {

std::uint64_t ParseNumber(const std::string& key, const std::string& text, std::uint64_t maximum) {
  const char* begin = text.c_str();
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(hex ? begin + 2 : begin, &end, hex ? 16 : 10);
  bool digitsOnly = !text.empty() && text[0] != '-' && text[0] != '+' && text[0] != ' ';
  if (!digitsOnly || end == begin || *end != '\0' || errno == ERANGE || value > maximum) {
    throw CSimError("option " + key + "=" + text + ": expected a number up to " +
                    std::to_string(maximum));
  }
  return value;
}

}  // namespace

std::optional<std::uint64_t> CSimOptions::TakeNumber(const std::string& key,
                                                     std::uint64_t maximum) {
  std::optional<std::string> text = TakeText(key);
  if (!text) return std::nullopt;
  return ParseNumber(key, *text, maximum);
}

std::optional<bool> CSimOptions::TakeFlag(const std::string& key) {
  std::optional<std::string> text = TakeText(key);
  if (!text) return std::nullopt;
  for (const char* yes : {"1", "yes", "true", "on"}) {
    if (*text == yes) return true;
  }
  for (const char* no : {"0", "no", "false", "off"}) {
    if (*text == no) return false;
  }
  throw CSimError("option " + key + "=" + *text + ": expected 1 or 0");
}

CSimDeviceSetup CSimOptions::TakeSetup(CSimDeviceSetup setup) {
  if (auto vid = TakeNumber("vid", 0xFFFF))
    setup.Address.VendorId = static_cast<std::uint16_t>(*vid);
  if (auto pid = TakeNumber("pid", 0xFFFF))
    setup.Address.ProductId = static_cast<std::uint16_t>(*pid);
  if (auto serial = TakeText("serial")) {
    if (!IsValidSimSerial(*serial)) {
      throw CSimError("option serial=" + *serial + ": letters, digits, '-' and '_' only");
    }
    setup.Address.Serial = *serial;
  }
  if (auto generation = TakeText("gen")) {
    if (*generation == "1") {
      setup.Address.Generation = ESimGeneration::First;
    } else if (*generation == "2") {
      setup.Address.Generation = ESimGeneration::Second;
    } else {
      throw CSimError("option gen=" + *generation + ": expected 1 or 2");
    }
  }
  if (auto name = TakeText("name")) {
    setup.FriendlyName = name->empty() ? std::nullopt : std::optional<std::string>(*name);
  }
  if (auto away = TakeNumber("away_ms", 0xFFFFFFFF)) {
    setup.AwayMilliseconds = static_cast<std::uint32_t>(*away);
  }
  setup.Faults = TakeFaults();
  return setup;
}

CSimFaultPlan CSimOptions::TakeFaults() {
  CSimFaultPlan faults;
  for (const std::string& k : TakeAll("refuse_ack")) {
    std::uint64_t number = ParseNumber("refuse_ack", k, 0xFFFFFFFF);
    if (number == 0) throw CSimError("option refuse_ack=0: acknowledgements count from 1");
    faults.RefusedAcknowledgements.insert(static_cast<std::uint32_t>(number));
  }
  for (const std::string& k : TakeAll("garble_ack")) {
    std::uint64_t number = ParseNumber("garble_ack", k, 0xFFFFFFFF);
    if (number == 0) throw CSimError("option garble_ack=0: acknowledgements count from 1");
    faults.GarbledAcknowledgements.insert(static_cast<std::uint32_t>(number));
  }
  if (auto n = TakeNumber("close_after", UINT64_MAX)) faults.CloseAfterBytes = *n;
  if (auto n = TakeNumber("stall_after", UINT64_MAX)) faults.StallAfterBytes = *n;
  if (auto identity = TakeText("identity")) faults.Identity = *identity;
  return faults;
}

std::vector<std::string> CSimOptions::Unused() const {
  std::vector<std::string> keys;
  for (const auto& option : m_options) {
    if (!option.Used) keys.push_back(option.Key);
  }
  return keys;
}

namespace {

// Reads a value from `text` at `pos` up to the next unquoted comma.
std::string ReadValue(std::string_view text, std::size_t& pos) {
  std::string value;
  if (pos < text.size() && text[pos] == '"') {
    ++pos;
    while (true) {
      if (pos >= text.size()) throw CSimError("unterminated quoted value in: " + std::string(text));
      char c = text[pos++];
      if (c == '"') break;
      if (c == '\\' && pos < text.size() && (text[pos] == '"' || text[pos] == '\\'))
        c = text[pos++];
      value += c;
    }
    if (pos < text.size() && text[pos] != ',') {
      throw CSimError("a comma must follow a quoted value in: " + std::string(text));
    }
    return value;
  }
  while (pos < text.size() && text[pos] != ',') value += text[pos++];
  return value;
}

}  // namespace

CSimDeviceDescription ParseSimDeviceDescription(std::string_view text) {
  CSimDeviceDescription description;
  std::size_t colon = text.find(':');
  description.Kind = std::string(text.substr(0, colon));
  if (description.Kind.empty()) throw CSimError("a device needs a kind: KIND:key=value,...");
  if (colon == std::string_view::npos) return description;
  std::size_t pos = colon + 1;
  while (pos < text.size()) {
    std::size_t keyEnd = text.find_first_of("=,", pos);
    std::string key(text.substr(pos, keyEnd == std::string_view::npos ? text.npos : keyEnd - pos));
    if (key.empty()) throw CSimError("an option without a name in: " + std::string(text));
    pos = keyEnd == std::string_view::npos ? text.size() : keyEnd;
    if (pos < text.size() && text[pos] == '=') {
      ++pos;
      description.Options.Add(key, ReadValue(text, pos));
    } else {
      description.Options.Add(key, "1");
    }
    if (pos < text.size()) ++pos;  // the comma
  }
  return description;
}
