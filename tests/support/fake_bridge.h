// A fake driver that emulates the MCU bridge registers in the PHY register
// space (XDATA, SFR and program memory behind the control, address and data
// registers) and records every bridge access.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "driver/request_channel.h"

namespace fake {

constexpr uint32_t kCtl = 0x40010;
constexpr uint32_t kAddr = 0x40011;
constexpr uint32_t kWdat = 0x40012;
constexpr uint32_t kRdat = 0x40013;

struct BridgeOp {
  bool write = false;
  uint32_t index = 0;
  uint16_t value = 0;  // value written; for reads, the value answered
  bool operator==(const BridgeOp&) const = default;
};

inline BridgeOp W(uint32_t index, uint16_t value) { return {true, index, value}; }
inline BridgeOp R(uint32_t index) { return {false, index, 0}; }

class FakeBridge : public platform::DeviceControl {
 public:
  std::vector<uint8_t> xdata = std::vector<uint8_t>(0x10000, 0);
  std::vector<uint8_t> sfr = std::vector<uint8_t>(0x100, 0);
  uint8_t ctl = 0;
  uint16_t addr = 0;
  int resets = 0;
  uint16_t rdat_high = 0;  // put into the upper byte of every read answer
  // Program memory / XDATA addresses whose reads answer the inverted byte.
  std::map<uint16_t, bool> corrupt_prog;
  std::map<uint16_t, bool> corrupt_xdata;
  // Requests for which this returns true get status 2 and have no effect.
  std::function<bool(const BridgeOp&)> fail = [](const BridgeOp&) { return false; };

  std::vector<BridgeOp> ops;  // every bridge access, failed ones included

  bool Control(uint32_t, uint8_t* b, uint32_t in_len, uint32_t, uint32_t& returned,
               uint32_t&) override {
    uint32_t code, index;
    std::memcpy(&code, b + 4, 4);
    std::memcpy(&index, b + 12, 4);
    EXPECT_TRUE(code == READ_PHY || code == WRITE_PHY) << code;
    BridgeOp op{code == WRITE_PHY, index, 0};
    if (op.write) {
      EXPECT_EQ(in_len, 18u);  // bridge registers take 16-bit data
      std::memcpy(&op.value, b + 16, 2);
    }
    const bool failed = fail(op);
    uint32_t status = failed ? 2 : 0;
    returned = 16;
    if (!failed) {
      if (op.write) {
        Write(index, op.value);
      } else {
        op.value = static_cast<uint16_t>(rdat_high | Read(index));
        std::memcpy(b + 16, &op.value, 2);
        returned = 18;
      }
    }
    ops.push_back(op);
    std::memcpy(b + 8, &status, 4);
    return true;
  }
  void Sleep(uint32_t) override {}

  bool Enabled() const { return (ctl & 0x80) != 0; }

 private:
  void Write(uint32_t index, uint16_t value) {
    if (index == kCtl) ctl = static_cast<uint8_t>(value);
    if (index == kAddr) addr = value;
    if (index == kWdat && Enabled()) {
      const uint8_t v = static_cast<uint8_t>(value);
      if (ctl == 0x81) {
        sfr[addr & 0xFF] = v;
      } else if (ctl == 0x86) {
        if (addr < 0x4000) xdata[0x5000 + addr] = v;
      } else {
        xdata[addr] = v;
        if (addr == 0xFFFF && v == 1) ++resets;
      }
      if (ctl & 0x04) ++addr;
    }
  }
  uint8_t Read(uint32_t index) {
    if (index != kRdat || !Enabled()) return 0;
    uint8_t v;
    if (ctl == 0x81) {
      v = sfr[addr & 0xFF];
    } else if (ctl == 0x86) {
      v = addr < 0x4000 ? xdata[0x5000 + addr] : 0xFF;
      if (corrupt_prog.count(addr)) v = static_cast<uint8_t>(~v);
    } else {
      v = xdata[addr];
      if (corrupt_xdata.count(addr)) v = static_cast<uint8_t>(~v);
    }
    if (ctl & 0x04) ++addr;
    return v;
  }
};

inline void PrintTo(const BridgeOp& op, std::ostream* os) {
  char text[48];
  std::snprintf(text, sizeof text, "%s 0x%05x 0x%04x", op.write ? "W" : "R",
                static_cast<unsigned>(op.index), static_cast<unsigned>(op.value));
  *os << text;
}

inline std::string Capture(const std::function<void()>& fn) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace fake
