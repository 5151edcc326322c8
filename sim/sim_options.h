#pragma once
// A simulated device as tavrix-devsim is told about it: a kind and key=value options,
// written "KIND:key=value,key=value,...". A value in double quotes may hold commas, blanks and
// the escapes \" and \\; a key without "=" is the flag value "1". Options are taken by the
// framework (the generic ones) and by the family; whatever nobody takes is an error, so a
// misspelt option never goes unnoticed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/sim_device.h"

class CSimOptions {
 public:
  void Add(std::string key, std::string value);
  bool Has(const std::string& key) const;

  // The one value of `key` (CSimError when given more than once).
  std::optional<std::string> TakeText(const std::string& key);
  // Every value of a repeatable key, in order.
  std::vector<std::string> TakeAll(const std::string& key);
  // A number, decimal or 0x-hexadecimal, at most `maximum` (CSimError otherwise).
  std::optional<std::uint64_t> TakeNumber(const std::string& key, std::uint64_t maximum);
  // 1/0, yes/no, true/false, on/off.
  std::optional<bool> TakeFlag(const std::string& key);

  // The generic options of every device, over the family's defaults:
  //   vid, pid (numbers), serial, gen (1 or 2), name (empty: no .name file), away_ms,
  //   and the faults below.
  CSimDeviceSetup TakeSetup(CSimDeviceSetup defaults);
  // The faults every simulated device takes, on the bus or on the network: refuse_ack and
  // garble_ack (repeatable), close_after, stall_after, identity.
  CSimFaultPlan TakeFaults();

  // Keys nobody took.
  std::vector<std::string> Unused() const;

 private:
  struct Option {
    std::string Key;
    std::string Value;
    bool Used = false;
  };
  std::vector<Option> m_options;
};

struct CSimDeviceDescription {
  std::string Kind;
  CSimOptions Options;
};

// Parses "KIND:key=value,...". Throws CSimError naming what is wrong.
CSimDeviceDescription ParseSimDeviceDescription(std::string_view text);
