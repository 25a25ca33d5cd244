#include "support/fake_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fake {

namespace {

uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

bool IsBridgeIndex(uint32_t index) { return index >= kBridgeCtl && index <= kBridgeRdat; }

// "READ_PHY 1": operation name and parameter.
std::string Describe(const Request& r) {
  const char* name = OpName(r.code);
  return std::string(name ? name : "?") + " " + std::to_string(r.param);
}

// System error the device-control call reports for a malformed call.
constexpr uint32_t kErrorInvalidParameter = 87;

}  // namespace

BridgeOp ToBridgeOp(const Request& r) {
  BridgeOp op{r.code == WRITE_PHY, r.param, 0};
  if (op.write && r.data.size() >= 2) {
    op.value = static_cast<uint16_t>(r.data[0] | (r.data[1] << 8));
  }
  return op;
}

void PrintTo(const BridgeOp& op, std::ostream* os) {
  char text[48];
  std::snprintf(text, sizeof text, "%s 0x%05x 0x%04x", op.write ? "W" : "R",
                static_cast<unsigned>(op.index), static_cast<unsigned>(op.value));
  *os << text;
}

std::vector<uint8_t> Words32(const std::vector<uint32_t>& words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return out;
}

Device::Device(int eeprom_size) : eeprom(static_cast<size_t>(eeprom_size), 0xFF), otp(512, 0x00) {
  EXPECT_GT(eeprom_size, 0) << "an EEPROM needs at least one byte";
  if (eeprom.empty()) eeprom.assign(1, 0xFF);
}

void Device::PhySequence(uint32_t index, const std::vector<uint32_t>& answers) {
  phy_reads[index].clear();
  if (answers.empty()) return;
  phy_reads[index].assign(answers.begin(), answers.end() - 1);
  phy[index] = answers.back();
}

void Device::FailNth(uint32_t code, int n, uint32_t status) {
  nth_failures_.push_back({code, request_count_[code] + n, status});
}

int Device::Count(uint32_t code) const {
  return static_cast<int>(std::count_if(requests.begin(), requests.end(),
                                        [&](const Request& r) { return r.code == code; }));
}

std::vector<uint32_t> Device::Codes() const {
  std::vector<uint32_t> out;
  for (const Request& r : requests) out.push_back(r.code);
  return out;
}

std::vector<uint32_t> Device::PhyReads() const {
  std::vector<uint32_t> out;
  for (const Request& r : requests) {
    if (r.code == READ_PHY) out.push_back(r.param);
  }
  return out;
}

std::vector<std::string> Device::Ops() const {
  std::vector<std::string> out;
  for (const Request& r : requests) out.push_back(Describe(r));
  return out;
}

bool Device::Control(uint32_t code, uint8_t* block, uint32_t in_len, uint32_t out_len,
                     uint32_t& returned, uint32_t& error) {
  EXPECT_EQ(code, platform::IOCTL_ORN5300_MP_ACCESS);
  EXPECT_EQ(out_len, kRequestBlockSize);
  EXPECT_GE(in_len, kRequestHeaderSize);
  EXPECT_LE(in_len, kRequestBlockSize);
  if (out_len != kRequestBlockSize || in_len < kRequestHeaderSize || in_len > kRequestBlockSize) {
    error = kErrorInvalidParameter;
    return false;
  }

  Request r;
  r.signature = Get32(block + kBlockSignatureOffset);
  r.code = Get32(block + kBlockCodeOffset);
  r.adapter = Get32(block + kBlockStatusOffset);
  r.param = Get32(block + kBlockParamOffset);
  r.in_len = in_len;
  if (in_len > kRequestHeaderSize && in_len < kRequestBlockSize) {
    r.data.assign(block + kBlockDataOffset, block + in_len);
  }
  r.offset = static_cast<uint16_t>(r.param);
  r.length = static_cast<uint16_t>(r.param >> 16);
  requests.push_back(r);
  events.push_back(Describe(r));

  if (fail_call) {
    error = call_error;
    return false;
  }

  returned = kRequestHeaderSize;
  uint32_t status = InjectedStatus(r);
  if (status == kStatusSuccess) status = Answer(r, block + kBlockDataOffset, returned);
  Put32(block + kBlockStatusOffset, status);
  if ((r.code == READ_PHY || r.code == WRITE_PHY) && IsBridgeIndex(r.param)) {
    BridgeOp op = ToBridgeOp(r);
    if (!op.write && status == kStatusSuccess) {
      const uint8_t* answer = block + kBlockDataOffset;
      op.value = static_cast<uint16_t>(answer[0] | (answer[1] << 8));
    }
    bridge_ops.push_back(op);
  }
  return true;
}

void Device::Corrupt(uint8_t* data) const {
  if (corrupt_at >= 0 && corrupt_at < static_cast<int>(kRequestDataSize)) data[corrupt_at] ^= 0xFF;
}

void Device::Sleep(uint32_t ms) {
  sleeps.push_back(ms);
  events.push_back("sleep " + std::to_string(ms));
}

// Every rule sees every request, so the counting ones stay in step whatever
// else failed it.
uint32_t Device::InjectedStatus(const Request& r) {
  const int nth = ++request_count_[r.code];
  const int phy_read = r.code == READ_PHY ? ++phy_read_count_[r.param] : 0;
  uint32_t status = kStatusSuccess;
  auto pick = [&](uint32_t s) {
    if (status == kStatusSuccess) status = s;
  };
  if (fail_when && fail_when(r)) pick(kInjectedStatus);
  if (auto it = op_status.find(r.code); it != op_status.end()) pick(it->second);
  if (failing.count({r.code, r.param})) pick(kInjectedStatus);
  if (phy_read > 0 && failing_phy_reads.count({r.param, phy_read})) pick(kInjectedStatus);
  for (const NthFailure& f : nth_failures_) {
    if (f.code == r.code && f.at == nth) pick(f.status);
  }
  return status;
}

uint32_t Device::Answer(const Request& r, uint8_t* data, uint32_t& returned) {
  if (auto it = replies.find(r.code); it != replies.end()) {
    const size_t n = std::min<size_t>(it->second.size(), kRequestDataSize);
    if (n > 0) std::memcpy(data, it->second.data(), n);
    returned = kRequestHeaderSize + static_cast<uint32_t>(n);
    return kStatusSuccess;
  }
  switch (r.code) {
    case READ_PHY:
    case WRITE_PHY:
      return AnswerPhy(r, data, returned);
    case READ_REGISTER:
      if (auto it = registers.find(r.param); it != registers.end()) {
        Put32(data, it->second);
      } else {
        Put32(data, 0);
      }
      returned = kRequestHeaderSize + 4;
      return kStatusSuccess;
    case WRITE_REGISTER:
      registers[r.param] = Get32(data);
      return kStatusSuccess;
    case E2P_COMMAND:
    case E2P_READ_BYTE:
    case E2P_WRITE_BYTE:
    case E2P_READ_BLOCK:
    case E2P_WRITE_BLOCK:
      return AnswerEeprom(r, data);
    case OTP_CONFIGURE:
    case OTP_READ_BLOCK:
    case OTP_WRITE_BLOCK:
      return AnswerOtp(r, data);
    case SET_LINK_MODE:
      data[0] = 0;  // the reply byte; 1 would ask for a longer settle time
      returned = kRequestHeaderSize + 1;
      return kStatusSuccess;
    default:
      return kStatusSuccess;  // accepted, no data
  }
}

uint32_t Device::AnswerPhy(const Request& r, uint8_t* data, uint32_t& returned) {
  if (r.code == WRITE_PHY) {
    const bool wide = r.in_len >= kRequestHeaderSize + 4;
    const uint32_t value = wide ? Get32(data) : static_cast<uint32_t>(data[0] | (data[1] << 8));
    if (IsBridgeIndex(r.param)) {
      EXPECT_EQ(r.in_len, 18u) << "bridge registers take 16-bit data";
      BridgeWrite(r.param, static_cast<uint16_t>(value));
    } else {
      phy[r.param] = value;
    }
    return kStatusSuccess;
  }
  uint32_t value = 0;
  if (IsBridgeIndex(r.param)) {
    value = rdat_high | BridgeRead(r.param);
  } else if (auto q = phy_reads.find(r.param); q != phy_reads.end() && !q->second.empty()) {
    value = q->second.front();
    q->second.pop_front();
  } else if (auto it = phy.find(r.param); it != phy.end()) {
    value = it->second;
  }
  Put32(data, value);
  returned = phy_returned;
  return kStatusSuccess;
}

uint32_t Device::AnswerEeprom(const Request& r, uint8_t* data) {
  const size_t size = eeprom.size();
  auto at = [&](size_t i) -> uint8_t& { return eeprom[(r.offset + i) % size]; };
  switch (r.code) {
    case E2P_COMMAND:
      if (r.param == kE2pWriteEnable) e2p_write_enabled_ = true;
      if (r.param == kE2pWriteDisable) e2p_write_enabled_ = false;
      return kStatusSuccess;
    case E2P_READ_BYTE:
      data[0] = at(0);
      return kStatusSuccess;
    case E2P_WRITE_BYTE:
      if (!e2p_write_enabled_) return kStatusAccessFailed;
      if (!eeprom_read_only) at(0) = data[0];
      return kStatusSuccess;
    case E2P_READ_BLOCK:
      if (r.length > kRequestDataSize) return kStatusAccessFailed;
      for (size_t i = 0; i < r.length; ++i) data[i] = at(i);
      Corrupt(data);
      return kStatusSuccess;
    case E2P_WRITE_BLOCK:
      if (!e2p_write_enabled_ || r.length > kRequestDataSize) return kStatusAccessFailed;
      if (!eeprom_read_only) {
        for (size_t i = 0; i < r.length; ++i) at(i) = data[i];
      }
      return kStatusSuccess;
    default:
      return kStatusAccessFailed;
  }
}

uint32_t Device::AnswerOtp(const Request& r, uint8_t* data) {
  const bool in_range = static_cast<size_t>(r.offset) + r.length <= otp.size();
  switch (r.code) {
    case OTP_CONFIGURE:
      otp_mode_ = r.param;
      return kStatusSuccess;
    case OTP_READ_BLOCK:
      if (otp_mode_ != kOtpOpenRead || !in_range) return kStatusAccessFailed;
      std::memcpy(data, otp.data() + r.offset, r.length);
      Corrupt(data);
      return kStatusSuccess;
    case OTP_WRITE_BLOCK:
      if (otp_mode_ != kOtpOpenProgram || !in_range) return kStatusAccessFailed;
      for (size_t i = 0; i < r.length; ++i) otp[r.offset + i] |= data[i];
      return kStatusSuccess;
    default:
      return kStatusAccessFailed;
  }
}

// The control register picks the memory: 0x81 SFR, 0x86 program memory,
// anything else XDATA; bit 7 enables access, bit 2 advances the address
// after each data access.
void Device::BridgeWrite(uint32_t index, uint16_t value) {
  if (index == kBridgeCtl) bridge_ctl = static_cast<uint8_t>(value);
  if (index == kBridgeAddr) bridge_addr = value;
  if (index == kBridgeWdat && BridgeEnabled()) {
    const uint8_t v = static_cast<uint8_t>(value);
    if (bridge_ctl == 0x81) {
      sfr[bridge_addr & 0xFF] = v;
    } else if (bridge_ctl == 0x86) {
      if (bridge_addr < 0x4000) xdata[0x5000 + bridge_addr] = v;
    } else {
      xdata[bridge_addr] = v;
      if (bridge_addr == 0xFFFF && v == 1) ++mcu_resets;
    }
    if (bridge_ctl & 0x04) ++bridge_addr;
  }
}

uint8_t Device::BridgeRead(uint32_t index) {
  if (index != kBridgeRdat || !BridgeEnabled()) return 0;
  uint8_t v;
  if (bridge_ctl == 0x81) {
    v = sfr[bridge_addr & 0xFF];
  } else if (bridge_ctl == 0x86) {
    v = bridge_addr < 0x4000 ? xdata[0x5000 + bridge_addr] : 0xFF;
    if (corrupt_prog.count(bridge_addr)) v = static_cast<uint8_t>(~v);
  } else {
    v = xdata[bridge_addr];
    if (corrupt_xdata.count(bridge_addr)) v = static_cast<uint8_t>(~v);
  }
  if (bridge_ctl & 0x04) ++bridge_addr;
  return v;
}

}  // namespace fake
