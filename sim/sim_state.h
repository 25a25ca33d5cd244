// The simulated controller's state: every value the state file can hold,
// with the defaults of a new device, and the conversion between the JSON
// document and this record.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The document type of state files: keeps the keys in the order of the file,
// so a saved file looks like the one that was loaded.
using Json = nlohmann::ordered_json;

constexpr uint32_t kDefaultChipId = 0x53000000;
constexpr uint32_t kMaxEepromSize = 512;
constexpr uint32_t kOtpSize = 512;
constexpr uint32_t kXdataSize = 0x10000;
constexpr uint32_t kSfrSize = 256;
constexpr uint32_t kProgramBase = 0x5000;     // program memory address 0 in XDATA
constexpr uint32_t kProgramSize = 0x4000;     // 16 KiB firmware load area
constexpr size_t kEthStatsCount = 47;
constexpr size_t kUsbPhyStatsCount = 16;

// One fault injection rule. `op` is the operation code the rule's name
// stands for.
struct FaultRule {
  uint32_t op = 0;
  std::optional<uint32_t> param;
  std::optional<uint32_t> nth;
  std::optional<uint32_t> from_nth;
  std::optional<uint32_t> status;
  std::optional<uint32_t> ioctl_error;
  std::optional<uint32_t> corrupt;
  bool operator==(const FaultRule&) const = default;
};

struct McuState {
  std::vector<uint8_t> xdata;            // kXdataSize bytes
  std::array<uint8_t, kSfrSize> sfr{};
  bool running = true;
  uint64_t resets = 0;
  bool operator==(const McuState&) const = default;
};

struct SimState {
  uint32_t chip_id = kDefaultChipId;
  uint32_t adapters = 1;
  std::map<uint32_t, uint32_t> registers;
  uint32_t eeprom_size = kMaxEepromSize;
  std::vector<uint8_t> eeprom;           // eeprom_size bytes
  std::array<uint8_t, kOtpSize> otp{};
  // PHY index -> values; one value is a plain register, more are a read
  // sequence. Holds the defaults plus what the file gives.
  std::map<uint32_t, std::vector<uint32_t>> phy;
  uint32_t link_mode_reply = 0;
  uint32_t link_mode = 0;
  uint32_t link_state = 1;
  std::array<uint32_t, 4> driver_version{1, 0, 0, 0};
  std::array<uint32_t, 3> adapter_bits{};
  std::string adapter_location;          // UTF-8
  std::string adapter_registry_key;
  std::string adapter_pdo;
  uint32_t adapter_port = 3;
  std::array<uint32_t, kEthStatsCount> eth_stats{};
  std::array<uint32_t, kUsbPhyStatsCount> usb_phy_stats{};
  std::array<uint32_t, 3> cabscan{};
  McuState mcu;
  bool virtual_time = true;
  std::vector<FaultRule> faults;
  uint64_t clock_ms = 0;

  bool operator==(const SimState&) const = default;
};

// The state of a new device (the document {}).
SimState DefaultState();

// The PHY register defaults: a cable plugged into a gigabit partner,
// auto-negotiated, this side master.
const std::map<uint32_t, uint32_t>& DefaultPhyRegisters();

// Reads a state document over the defaults. Returns false and a one-line
// description of the first problem when a key has a wrong type or range.
bool ParseState(const Json& doc, SimState& state, std::string& problem);

// Writes into `doc` every top-level key (and `mcu` member) whose value in
// `now` differs from `loaded`; every other key keeps its form in the file.
void UpdateDocument(Json& doc, const SimState& now, const SimState& loaded);

// A document that spells out every key of `state`.
Json FullDocument(const SimState& state);

// The top-level keys a state document may hold.
bool IsStateKey(const std::string& key);

// Helpers shared with the orn5300sim program.
std::string HexBytes(const uint8_t* data, size_t size);  // "A5FF..."
// Parses "0x.."/decimal strings or JSON numbers into a value of at most
// `max`; false on a wrong type or range.
bool ParseNumber(const Json& value, uint64_t max, uint64_t& out);

}  // namespace sim
