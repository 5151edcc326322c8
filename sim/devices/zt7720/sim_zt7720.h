#pragma once
// A simulated ZT7720-4K/4M unit: TCP on a configurable address and port (A2 identification,
// A0 blocks of 4096 bytes acknowledged with "!", A1 end) and, when asked, the discovery side
// on UDP 17008. It keeps the blocks it received. Faults: refuse the k-th block ("?"), drop the
// connection when the k-th block's data are in, answer with another model code. After the end
// command, a version tag in the blocks received becomes the firmware version it reports.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices/zt7720/sim_discovery_responder.h"

class CSimTcpServer;

struct CSimZt7720Setup {
  std::uint16_t DeviceType = 7720;              // 7720 the 4K, 7721 the 4M
  std::optional<std::string> ModelCode;         // another identity than the type's own
  std::uint16_t FirmwareVersion = 100;
  std::string Address = "127.0.0.1";
  std::uint16_t Port = 502;                     // 0: any free port
  std::uint32_t RefuseBlock = 0;                // 1-based; 0 never
  std::uint32_t DropAtBlock = 0;                // 1-based; 0 never
  bool Discovery = false;                       // answer searches on UDP 17008
  std::string Name;                             // the discovery name (default: the model code)
  std::array<std::uint8_t, 6> HardwareAddress{0x02, 0x00, 0x00, 0x00, 0x77, 0x20};
};

class CSimZt7720 {
 public:
  struct Block {
    std::uint32_t Address = 0;
    std::vector<std::uint8_t> Data;
  };

  explicit CSimZt7720(CSimZt7720Setup setup);
  ~CSimZt7720();
  CSimZt7720(const CSimZt7720&) = delete;
  CSimZt7720& operator=(const CSimZt7720&) = delete;

  // Sockets are made in the calling thread's network namespace. Throws CSimError.
  void Start();
  void Stop();

  std::uint16_t Port() const { return m_setup.Port; }
  std::string Identification() const;
  // The blocks received and acknowledged, in order.
  std::vector<Block> Blocks() const;
  // How many A1 end commands came.
  std::uint32_t Ends() const;
  // Waits until `count` end commands came: the unit takes them on its own thread, a moment
  // after the host sent them. False when the time ran out first.
  bool WaitForEnds(std::uint32_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  std::string Describe() const;

  // Parses tavrix-devsim's "zt7720:key=value,..." options (type, model, firmware, address,
  // port, refuse_block, drop_at_block, discovery, name). Throws CSimError.
  static CSimZt7720Setup ParseOptions(const std::string& options);

 private:
  void Serve(int fd);

  CSimZt7720Setup m_setup;
  std::unique_ptr<CSimDiscoveryResponder> m_discovery;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_endsChanged;
  std::vector<Block> m_blocks;
  std::uint32_t m_ends = 0;
  std::uint32_t m_blocksSeen = 0;
  std::unique_ptr<CSimTcpServer> m_server;  // last: its thread stops before the rest goes
};
