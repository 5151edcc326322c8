#pragma once
// A simulated ZT7720-4K/4M unit: TCP on a configurable address and port (A2 identification,
// A0 blocks of 4096 bytes acknowledged with "!", A1 end) and, when asked, the discovery side
// on UDP 17008. It keeps the blocks it received. Faults: those of every simulated device
// (CSimFaults: refuse or garble the k-th block's acknowledgement, drop the connection or stop
// answering after n bytes, answer with another identity), drop the connection when the k-th
// block's data are in, report another model code. Its transcript notes every transfer and,
// as each connection ends, the counts the faults are placed by. After the end command, a
// version tag in the blocks received becomes the firmware version it reports.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices/zt7720/sim_discovery_responder.h"
#include "sim/sim_faults.h"
#include "sim/sim_transcript.h"

class CSimTcpServer;

struct CSimZt7720Setup {
  std::uint16_t DeviceType = 7720;              // 7720 the 4K, 7721 the 4M
  std::optional<std::string> ModelCode;         // another identity than the type's own
  std::uint16_t FirmwareVersion = 100;
  std::string Address = "127.0.0.1";
  std::uint16_t Port = 502;                     // 0: any free port
  std::uint32_t DropAtBlock = 0;                // 1-based; 0 never
  CSimFaultPlan Faults;                         // refuse_block=K is refuse_ack=K: one acknowledgement a block
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

  CSimFaults& Faults() { return m_faults; }
  CSimTranscript& Transcript() { return m_transcript; }

  // Parses tavrix-devsim's "zt7720:key=value,..." options (type, model, firmware, address,
  // port, refuse_block, drop_at_block, discovery, name, and the faults of every simulated
  // device). Throws CSimError.
  static CSimZt7720Setup ParseOptions(const std::string& options);

 private:
  void Serve(int fd);
  // One connection's commands; false when the unit ended it (a fault), true when the host did.
  bool ServeCommands(int fd, std::uint32_t connection);
  // Receives exactly `count` bytes and counts them for the faults: false when the host closed
  // or a fault ended the connection (`droppedByUnit` then says which).
  bool Receive(int fd, std::uint32_t connection, std::uint8_t* buffer, std::size_t count, bool& droppedByUnit);
  void Send(int fd, std::uint32_t connection, const std::vector<std::uint8_t>& bytes);

  CSimZt7720Setup m_setup;
  std::unique_ptr<CSimDiscoveryResponder> m_discovery;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_endsChanged;
  std::vector<Block> m_blocks;
  std::uint32_t m_ends = 0;
  std::uint32_t m_blocksSeen = 0;
  std::uint32_t m_connections = 0;
  CSimFaults m_faults;
  CSimTranscript m_transcript;
  std::unique_ptr<CSimTcpServer> m_server;  // last: its thread stops before the rest goes
};
