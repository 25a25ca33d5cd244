// Shared set-up of the simulator tests: a temporary state file, opening the
// simulated device on it, and raw request blocks.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "driver/request_channel.h"
#include "sim/sim_state.h"
#include "sim/simulator.h"
#include "support/tool_runner.h"

namespace simtest {

// The outcome of one raw request.
struct RawResult {
  bool call_ok = false;
  uint32_t error = 0;
  uint32_t status = 0;
  uint32_t returned = 0;
};

inline uint32_t Get32(const uint8_t* b, uint32_t offset) {
  uint32_t v;
  std::memcpy(&v, b + offset, 4);
  return v;
}

inline void Put32(uint8_t* b, uint32_t offset, uint32_t v) { std::memcpy(b + offset, &v, 4); }

class SimTest : public testing::Test {
 protected:
  test::TempDir dir;
  std::string state_path = dir.File("state.json");
  std::string trace_path = dir.File("trace.jsonl");
  std::unique_ptr<platform::DeviceControl> device;
  RequestChannel ch;

  // Writes the state file and opens the device on it (with the trace when asked).
  void Start(const std::string& state_json, bool trace = false) {
    test::WriteFile(state_path, state_json);
    Reopen(trace);
  }

  void Reopen(bool trace = false) {
    device.reset();
    uint32_t error = 0;
    device = sim::OpenSimulatedDevice(state_path, trace ? trace_path : "", error);
    ASSERT_NE(device, nullptr) << "open failed with error " << error;
    ch = RequestChannel{};
    ch.device = device.get();
  }

  // Closes the device (saving) and returns the state file as JSON.
  nlohmann::json Saved() {
    device.reset();
    ch.device = nullptr;
    return nlohmann::json::parse(test::ReadFile(state_path));
  }

  // Closes the device (saving) and reads the state file over the defaults.
  sim::SimState SavedState() {
    device.reset();
    ch.device = nullptr;
    sim::SimState state;
    std::string problem;
    EXPECT_TRUE(sim::ParseState(sim::Json::parse(test::ReadFile(state_path)), state, problem))
        << problem;
    return state;
  }

  // Sends a hand-made request block through the device.
  RawResult Raw(uint8_t* block, uint32_t code, uint32_t param, uint32_t in_len,
                uint32_t signature = kSignatureDefault, uint32_t adapter = 0,
                uint32_t out_len = kRequestBlockSize) {
    Put32(block, 0, signature);
    Put32(block, 4, code);
    Put32(block, 8, adapter);
    Put32(block, 12, param);
    RawResult r;
    r.call_ok = device->Control(platform::IOCTL_ORN5300_MP_ACCESS, block, in_len, out_len,
                                r.returned, r.error);
    r.status = Get32(block, 8);
    return r;
  }

  uint32_t Reg(uint32_t address) {
    uint32_t value = 0;
    EXPECT_TRUE(ReadRegister(ch, address, value));
    return value;
  }

  uint16_t Phy(uint32_t index) {
    uint16_t value = 0;
    EXPECT_TRUE(ReadPhy16(ch, index, value));
    return value;
  }

  // One MCU byte through the bridge: address, control, data.
  uint8_t McuRead(uint32_t address, uint32_t control = 0x80) {
    EXPECT_TRUE(WritePhy(ch, 0x40011, address));
    EXPECT_TRUE(WritePhy(ch, 0x40010, control));
    return static_cast<uint8_t>(Phy(0x40013));
  }
};

}  // namespace simtest
