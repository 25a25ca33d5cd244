// A fake driver with an EEPROM and an OTP behind it, for the memory flows:
// it decodes the request block as the driver does, keeps the memories,
// records every request and fails or corrupts the requests a test picks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/request_channel.h"

namespace fake {

struct Request {
  uint32_t code;
  uint16_t offset;
  uint16_t length;
  uint32_t param;
};

class MemoryDevice : public platform::DeviceControl {
 public:
  explicit MemoryDevice(int eeprom_size = 512) : eeprom(eeprom_size, 0xFF), otp(512, 0x00) {}

  std::vector<uint8_t> eeprom;
  std::vector<uint8_t> otp;
  std::vector<Request> log;
  // Answers status 1 to the n-th request with code `fail_code` (1-based,
  // counted from when the code is set); 0 disables.
  uint32_t fail_code = 0;
  int fail_nth = 0;
  // Inverts byte `corrupt_at` of every block read reply when not negative.
  int corrupt_at = -1;
  // A part that ignores writes to the EEPROM.
  bool eeprom_read_only = false;

  bool Control(uint32_t, uint8_t* b, uint32_t, uint32_t, uint32_t& ret, uint32_t&) override {
    uint32_t code, param;
    std::memcpy(&code, b + 4, 4);
    std::memcpy(&param, b + 12, 4);
    const uint16_t offset = static_cast<uint16_t>(param & 0xFFFF);
    const uint16_t length = static_cast<uint16_t>(param >> 16);
    log.push_back({code, offset, length, param});
    ret = 16;
    uint32_t status = Answer(code, offset, length, param, b + 16) ? 0 : 1;
    if (code == fail_code && ++seen_ == fail_nth) status = 1;
    std::memcpy(b + 8, &status, 4);
    return true;
  }
  void Sleep(uint32_t) override {}

  int Count(uint32_t code) const {
    int n = 0;
    for (const auto& r : log) n += r.code == code ? 1 : 0;
    return n;
  }
  std::vector<uint32_t> Codes() const {
    std::vector<uint32_t> codes;
    for (const auto& r : log) codes.push_back(r.code);
    return codes;
  }

 private:
  int seen_ = 0;
  bool e2p_enabled_ = false;
  uint32_t otp_mode_ = 0;

  bool Answer(uint32_t code, uint16_t offset, uint16_t length, uint32_t param, uint8_t* data) {
    const size_t size = eeprom.size();
    switch (code) {
      case E2P_COMMAND:
        if (param == kE2pWriteEnable) e2p_enabled_ = true;
        if (param == kE2pWriteDisable) e2p_enabled_ = false;
        return true;
      case E2P_READ_BYTE:
        data[0] = eeprom[offset % size];
        return true;
      case E2P_WRITE_BYTE:
        if (!e2p_enabled_) return false;
        if (!eeprom_read_only) eeprom[offset % size] = data[0];
        return true;
      case E2P_READ_BLOCK:
        for (int i = 0; i < length; ++i) data[i] = eeprom[i % size];
        if (corrupt_at >= 0) data[corrupt_at] ^= 0xFF;
        return true;
      case E2P_WRITE_BLOCK:
        if (!e2p_enabled_) return false;
        for (int i = 0; i < length; ++i) eeprom[i % size] = data[i];
        return true;
      case OTP_CONFIGURE:
        otp_mode_ = param;
        return true;
      case OTP_READ_BLOCK:
        if (otp_mode_ != kOtpOpenRead || offset + length > 512) return false;
        std::memcpy(data, otp.data() + offset, length);
        if (corrupt_at >= 0) data[corrupt_at] ^= 0xFF;
        return true;
      case OTP_WRITE_BLOCK:
        if (otp_mode_ != kOtpOpenProgram || offset + length > 512) return false;
        for (int i = 0; i < length; ++i) otp[offset + i] |= data[i];
        return true;
      default:
        return false;
    }
  }
};

// Captures what a call prints on standard output.
inline std::string Capture(const std::function<void()>& fn) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace fake
