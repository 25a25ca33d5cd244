// The simulated driver and chip: answers request blocks from a SimState,
// keeps the per-run state (write enable, OTP mode, read sequences, the MCU
// bridge, fault counters), traces, and saves the state when destroyed.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_control.h"
#include "sim/sim_state.h"
#include "sim/state_file.h"
#include "sim/trace.h"

namespace sim {

// PHY indexes of the MCU bridge registers.
constexpr uint32_t kBridgeCtl = 0x40010;
constexpr uint32_t kBridgeAddr = 0x40011;
constexpr uint32_t kBridgeWdat = 0x40012;
constexpr uint32_t kBridgeRdat = 0x40013;

// Windows error numbers of a device-control call that fails.
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;

class SimulatedDevice : public platform::DeviceControl {
 public:
  // `doc` is the document the state was read from (kept so that a save
  // changes only what changed); `file` and `trace` may be null.
  SimulatedDevice(SimState state, Json doc, std::unique_ptr<StateFile> file,
                  std::unique_ptr<TraceWriter> trace);
  ~SimulatedDevice() override;  // saves when something changed

  bool Control(uint32_t code, uint8_t* buffer, uint32_t in_len, uint32_t out_len,
               uint32_t& returned, uint32_t& error) override;
  void Sleep(uint32_t ms) override;

  const SimState& state() const { return state_; }

  // Writes the state back when it differs from what was loaded. False and a
  // reason when the file cannot be written.
  bool Save(std::string& problem);

 private:
  enum class OtpMode { kClosed, kRead, kProgram };

  // Carries out one request whose header is valid; returns the status and
  // the size of the reply data at 16.
  uint32_t Execute(uint32_t code, uint8_t* b, uint32_t in_len, uint32_t& reply_size);
  const FaultRule* MatchFaults(uint32_t code, uint32_t param);

  uint32_t PhyRead(uint32_t index);
  uint32_t PhyPeek(uint32_t index) const;
  void PhyWrite(uint32_t index, uint32_t value);
  uint32_t BridgeRead(uint32_t index);
  void BridgeWrite(uint32_t index, uint32_t value);
  void McuStore(uint8_t value);
  uint8_t McuLoad() const;

  SimState state_;
  SimState loaded_;
  Json doc_;
  std::unique_ptr<StateFile> file_;
  std::unique_ptr<TraceWriter> trace_;

  // Per-run state: every run starts with these.
  bool e2p_write_enabled_ = false;
  OtpMode otp_mode_ = OtpMode::kClosed;
  std::map<uint32_t, size_t> phy_read_index_;  // reads so far of each read sequence
  uint32_t bridge_ctl_ = 0;
  uint32_t bridge_addr_ = 0;
  std::vector<uint32_t> fault_matches_;
  std::array<std::u16string, 3> texts_;  // location, registry key, PDO
  std::vector<uint8_t> trace_data_;      // request data kept for the trace
};

}  // namespace sim
