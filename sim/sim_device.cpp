#include "sim/sim_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "driver/protocol.h"
#include "sim/state_io.h"
#include "sim/text.h"

namespace sim {
namespace {

constexpr uint32_t kStatusOk = 0;
constexpr uint32_t kStatusAccess = 1;
constexpr uint32_t kStatusRefused = 2;  // "busy or other error"
constexpr uint32_t kMaxBlock = 512;

uint32_t Get32(const uint8_t* b, uint32_t offset) {
  return static_cast<uint32_t>(b[offset]) | static_cast<uint32_t>(b[offset + 1]) << 8 |
         static_cast<uint32_t>(b[offset + 2]) << 16 | static_cast<uint32_t>(b[offset + 3]) << 24;
}

uint16_t Get16(const uint8_t* b, uint32_t offset) {
  return static_cast<uint16_t>(b[offset] | b[offset + 1] << 8);
}

void Put32(uint8_t* b, uint32_t offset, uint32_t value) {
  b[offset] = static_cast<uint8_t>(value);
  b[offset + 1] = static_cast<uint8_t>(value >> 8);
  b[offset + 2] = static_cast<uint8_t>(value >> 16);
  b[offset + 3] = static_cast<uint8_t>(value >> 24);
}

void Put16(uint8_t* b, uint32_t offset, uint32_t value) {
  b[offset] = static_cast<uint8_t>(value);
  b[offset + 1] = static_cast<uint8_t>(value >> 8);
}

// A header field, or 0 when the input length does not reach it.
uint32_t Field32(const uint8_t* b, uint32_t in_len, uint32_t offset) {
  return in_len >= offset + 4 ? Get32(b, offset) : 0;
}

// PHY values are 32 bits wide for these indexes, 16 bits for the others.
template <size_t N>
uint32_t PutWords(uint8_t* b, const std::array<uint32_t, N>& words) {
  for (size_t i = 0; i < N; ++i) Put32(b, 16 + 4 * static_cast<uint32_t>(i), words[i]);
  return 4 * N;
}

// A NUL-terminated UTF-16LE text, cut at a character boundary so that it
// and its NUL fit the data area.
uint32_t PutText(uint8_t* b, const std::u16string& text) {
  size_t n = std::min<size_t>(text.size(), kRequestDataSize / 2 - 1);
  if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  for (size_t i = 0; i < n; ++i) Put16(b, 16 + 2 * static_cast<uint32_t>(i), text[i]);
  Put16(b, 16 + 2 * static_cast<uint32_t>(n), 0);
  return 2 * static_cast<uint32_t>(n + 1);
}

// PHY register 0 as SET_LINK_MODE forces it, for modes 1 to 5.
constexpr uint32_t kForcedControl[] = {0x0000, 0x0100, 0x2000, 0x2100, 0x0140};

}  // namespace

SimulatedDevice::SimulatedDevice(SimState state, Json doc, std::unique_ptr<StateFile> file,
                                 std::unique_ptr<TraceWriter> trace)
    : state_(std::move(state)),
      loaded_(state_),
      doc_(std::move(doc)),
      file_(std::move(file)),
      trace_(std::move(trace)),
      fault_matches_(state_.faults.size(), 0) {
  Utf8ToUtf16(state_.adapter_location, texts_[0]);
  Utf8ToUtf16(state_.adapter_registry_key, texts_[1]);
  Utf8ToUtf16(state_.adapter_pdo, texts_[2]);
}

SimulatedDevice::~SimulatedDevice() {
  std::string problem;
  if (!Save(problem)) {
    std::fprintf(stderr, "%s: the simulator state was not saved: %s\n",
                 file_ ? file_->path().c_str() : "(state)", problem.c_str());
  }
}

bool SimulatedDevice::Save(std::string& problem) {
  if (state_ == loaded_) return true;
  if (!file_ || !file_->is_open()) {
    problem = "the state file is not open";
    return false;
  }
  UpdateDocument(doc_, state_, loaded_);
  if (!file_->Replace(SerializeDocument(doc_), problem)) return false;
  loaded_ = state_;
  return true;
}

void SimulatedDevice::Sleep(uint32_t ms) {
  if (trace_) trace_->Sleep(ms);
  if (state_.virtual_time) {
    state_.clock_ms += ms;
  } else {
    platform::SleepMilliseconds(ms);
  }
}

const FaultRule* SimulatedDevice::MatchFaults(uint32_t code, uint32_t param) {
  const FaultRule* decided = nullptr;
  for (size_t i = 0; i < state_.faults.size(); ++i) {
    const FaultRule& rule = state_.faults[i];
    if (rule.op != code || (rule.param && *rule.param != param)) continue;
    const uint32_t count = ++fault_matches_[i];
    const bool fires = (!rule.nth && !rule.from_nth) || (rule.nth && count == *rule.nth) ||
                       (rule.from_nth && count >= *rule.from_nth);
    if (fires && decided == nullptr) decided = &rule;
  }
  return decided;
}

bool SimulatedDevice::Control(uint32_t code, uint8_t* b, uint32_t in_len, uint32_t out_len,
                              uint32_t& returned, uint32_t& error) {
  // Never look past the request block, whatever the input length says.
  const uint32_t len = std::min(in_len, kRequestBlockSize);
  TraceRequest t;
  if (b != nullptr) {
    t.signature = Field32(b, len, 0);
    t.code = Field32(b, len, 4);
    t.adapter = Field32(b, len, 8);
    t.param = Field32(b, len, 12);
  }
  t.in_len = in_len;
  if (trace_ && b != nullptr && in_len < kRequestBlockSize && len > kRequestHeaderSize) {
    trace_data_.assign(b + kRequestHeaderSize, b + len);
    t.data = trace_data_.data();
    t.data_size = trace_data_.size();
  }

  uint32_t call_error = 0;
  if (code != platform::IOCTL_ORN5300_MP_ACCESS) {
    call_error = kErrorInvalidFunction;
  } else if (b == nullptr) {
    call_error = kErrorInvalidParameter;
  } else if (out_len < kRequestBlockSize) {
    call_error = kErrorInsufficientBuffer;
  }
  const FaultRule* fault = call_error == 0 ? MatchFaults(t.code, t.param) : nullptr;
  if (fault != nullptr && fault->ioctl_error) call_error = *fault->ioctl_error;
  if (call_error != 0) {
    returned = 0;
    error = call_error;
    if (trace_) {
      t.call_failed = true;
      t.ioctl_error = call_error;
      trace_->Request(t);
    }
    return false;
  }

  uint32_t status = kStatusOk;
  uint32_t reply_size = 0;
  if (fault != nullptr && fault->status) {
    status = *fault->status;  // the request has no effect
  } else if (len < kRequestHeaderSize ||
             (t.signature != kSignatureDefault && t.signature != kSignatureAdapter) ||
             OpName(t.code) == nullptr) {
    status = kStatusRefused;
  } else if (t.adapter >= state_.adapters) {
    status = kStatusAccess;
  } else {
    status = Execute(t.code, b, len, reply_size);
  }
  if (status != kStatusOk) reply_size = 0;
  if (fault != nullptr && fault->corrupt && *fault->corrupt < reply_size) {
    b[kRequestHeaderSize + *fault->corrupt] ^= 0xFF;
  }
  Put32(b, 8, status);

  returned = kRequestHeaderSize + reply_size;
  if (t.code == READ_PHY && status == kStatusOk) returned = WidePhyIndex(t.param) ? 20 : 18;
  if (trace_) {
    t.status = status;
    t.returned = returned;
    trace_->Request(t);
  }
  return true;
}

uint32_t SimulatedDevice::Execute(uint32_t code, uint8_t* b, uint32_t in_len,
                                  uint32_t& reply_size) {
  const uint32_t param = Get32(b, 12);
  const uint32_t offset = Get16(b, 12);
  const uint32_t length = Get16(b, 14);
  uint8_t* reply = b + kRequestHeaderSize;
  const uint32_t e2p_size = state_.eeprom_size;

  switch (code) {
    case E2P_COMMAND:
      if (param == kE2pWriteEnable) e2p_write_enabled_ = true;
      if (param == kE2pWriteDisable) e2p_write_enabled_ = false;
      return kStatusOk;

    case E2P_READ_BYTE:
      reply[0] = state_.eeprom[offset % e2p_size];
      reply_size = 1;
      return kStatusOk;

    case E2P_WRITE_BYTE:
      if (in_len < kRequestHeaderSize + 1) return kStatusRefused;
      if (!e2p_write_enabled_) return kStatusAccess;
      state_.eeprom[offset % e2p_size] = reply[0];
      return kStatusOk;

    case E2P_READ_BLOCK:
      if (length > kMaxBlock) return kStatusRefused;
      for (uint32_t i = 0; i < length; ++i) reply[i] = state_.eeprom[(offset + i) % e2p_size];
      reply_size = length;
      return kStatusOk;

    case E2P_WRITE_BLOCK:
      if (length > kMaxBlock || in_len < kRequestHeaderSize + length) return kStatusRefused;
      if (!e2p_write_enabled_) return kStatusAccess;
      for (uint32_t i = 0; i < length; ++i) state_.eeprom[(offset + i) % e2p_size] = reply[i];
      return kStatusOk;

    case GET_DRIVER_VERSION:
      reply_size = PutWords(b, state_.driver_version);
      return kStatusOk;

    case READ_REGISTER: {
      uint32_t value = state_.chip_id;
      if (param != 0) {
        const auto it = state_.registers.find(param);
        value = it == state_.registers.end() ? 0 : it->second;
      }
      Put32(b, 16, value);
      reply_size = 4;
      return kStatusOk;
    }

    case WRITE_REGISTER:
      if (in_len < kRequestHeaderSize + 4) return kStatusRefused;
      if (param != 0) state_.registers[param] = Get32(b, 16);  // register 0 is read-only
      return kStatusOk;

    case READ_PHY:
      if (WidePhyIndex(param)) {
        Put32(b, 16, PhyRead(param));
        reply_size = 4;
      } else {
        Put16(b, 16, PhyRead(param));
        reply_size = 2;
      }
      return kStatusOk;

    case WRITE_PHY:
      if (WidePhyIndex(param)) {
        if (in_len < kRequestHeaderSize + 4) return kStatusRefused;
        PhyWrite(param, Get32(b, 16));
      } else {
        if (in_len < kRequestHeaderSize + 2) return kStatusRefused;
        PhyWrite(param, Get16(b, 16));
      }
      return kStatusOk;

    case READ_TXRX_STATS:
      reply_size = PutWords(b, state_.eth_stats);
      return kStatusOk;

    case READ_USB_PHY_STATS:
      reply_size = PutWords(b, state_.usb_phy_stats);
      return kStatusOk;

    case SET_LINK_MODE: {
      if (in_len < kRequestHeaderSize + 4) return kStatusRefused;
      const uint32_t mode = Get32(b, 16);
      if (mode < 1 || mode > 5) return kStatusRefused;
      state_.link_mode = mode;
      // The forced registers are writes: they end any read sequence.
      PhyWrite(0, kForcedControl[mode - 1]);
      if (mode == 5) PhyWrite(9, PhyPeek(9) | 0x1800);
      reply[0] = static_cast<uint8_t>(state_.link_mode_reply);
      reply_size = 1;
      return kStatusOk;
    }

    case SET_LINK_STATE: {
      if (in_len < kRequestHeaderSize + 4) return kStatusRefused;
      const uint32_t link = Get32(b, 16);
      if (link > 1) return kStatusRefused;
      state_.link_state = link;
      return kStatusOk;
    }

    case EXECUTE_CABSCAN:
      for (uint32_t i = 0; i < 3; ++i) Put16(b, 16 + 2 * i, state_.cabscan[i]);
      reply_size = 6;
      return kStatusOk;

    case GET_ADAPTER_BITS:
      reply_size = PutWords(b, state_.adapter_bits);
      return kStatusOk;

    case GET_ADAPTER_LOCATION:
      reply_size = PutText(b, texts_[0]);
      return kStatusOk;

    case GET_ADAPTER_REGISTRY_KEY:
      reply_size = PutText(b, texts_[1]);
      return kStatusOk;

    case GET_ADAPTER_PDO:
      reply_size = PutText(b, texts_[2]);
      return kStatusOk;

    case GET_ADAPTER_PORT:
      Put32(b, 16, state_.adapter_port);
      reply_size = 4;
      return kStatusOk;

    case OTP_CONFIGURE:
      if (param == kOtpOpenRead) otp_mode_ = OtpMode::kRead;
      if (param == kOtpOpenProgram) otp_mode_ = OtpMode::kProgram;
      if (param == kOtpClose) otp_mode_ = OtpMode::kClosed;
      return kStatusOk;

    case OTP_READ_BLOCK:
      if (offset + length > kOtpSize) return kStatusRefused;
      if (otp_mode_ == OtpMode::kClosed) return kStatusAccess;
      std::memcpy(reply, state_.otp.data() + offset, length);
      reply_size = length;
      return kStatusOk;

    case OTP_WRITE_BLOCK:
      if (offset + length > kOtpSize || in_len < kRequestHeaderSize + length) {
        return kStatusRefused;
      }
      if (otp_mode_ != OtpMode::kProgram) return kStatusAccess;
      for (uint32_t i = 0; i < length; ++i) state_.otp[offset + i] |= reply[i];  // bits only set
      return kStatusOk;

    default:
      return kStatusRefused;
  }
}

uint32_t SimulatedDevice::PhyPeek(uint32_t index) const {
  const auto it = state_.phy.find(index);
  if (it == state_.phy.end()) return 0;
  const std::vector<uint32_t>& values = it->second;
  if (values.size() == 1) return values[0];
  const auto read = phy_read_index_.find(index);
  const size_t k = read == phy_read_index_.end() ? 0 : read->second;
  return values[std::min(k, values.size() - 1)];
}

uint32_t SimulatedDevice::PhyRead(uint32_t index) {
  if (index >= kBridgeCtl && index <= kBridgeRdat) return BridgeRead(index);
  const uint32_t value = PhyPeek(index);
  const auto it = state_.phy.find(index);
  if (it != state_.phy.end() && it->second.size() > 1) ++phy_read_index_[index];
  return value;
}

void SimulatedDevice::PhyWrite(uint32_t index, uint32_t value) {
  if (index >= kBridgeCtl && index <= kBridgeRdat) {
    BridgeWrite(index, value);
    return;
  }
  std::vector<uint32_t>& values = state_.phy[index];
  if (values.size() == 1) {
    values[0] = value;  // no allocation on the common path
  } else {
    values.assign(1, value);
    phy_read_index_.erase(index);
  }
}

// The MCU bridge. Control bit 7 enables access, bit 0 selects the SFR space,
// bit 1 program memory, bit 2 auto-increment; without access enabled the
// MCU runs and data accesses do nothing.
uint32_t SimulatedDevice::BridgeRead(uint32_t index) {
  switch (index) {
    case kBridgeCtl:
      return bridge_ctl_;
    case kBridgeAddr:
      return bridge_addr_;
    case kBridgeRdat: {
      if ((bridge_ctl_ & 0x80) == 0) return 0;
      const uint8_t value = McuLoad();
      if (bridge_ctl_ & 0x04) bridge_addr_ = (bridge_addr_ + 1) & 0xFFFF;
      return value;
    }
    default:
      return 0;  // the write-data register reads as 0
  }
}

void SimulatedDevice::BridgeWrite(uint32_t index, uint32_t value) {
  switch (index) {
    case kBridgeCtl:
      bridge_ctl_ = value & 0xFF;
      state_.mcu.running = (bridge_ctl_ & 0x80) == 0;
      break;
    case kBridgeAddr:
      bridge_addr_ = value & 0xFFFF;
      break;
    case kBridgeWdat:
      if ((bridge_ctl_ & 0x80) == 0) break;
      McuStore(static_cast<uint8_t>(value));
      if (bridge_ctl_ & 0x04) bridge_addr_ = (bridge_addr_ + 1) & 0xFFFF;
      break;
    default:
      break;  // the read-data register ignores writes
  }
}

uint8_t SimulatedDevice::McuLoad() const {
  if (bridge_ctl_ & 0x01) return state_.mcu.sfr[bridge_addr_ & 0xFF];
  if (bridge_ctl_ & 0x02) {
    return bridge_addr_ < kProgramSize ? state_.mcu.xdata[kProgramBase + bridge_addr_] : 0xFF;
  }
  return state_.mcu.xdata[bridge_addr_];
}

void SimulatedDevice::McuStore(uint8_t value) {
  if (bridge_ctl_ & 0x01) {
    state_.mcu.sfr[bridge_addr_ & 0xFF] = value;
  } else if (bridge_ctl_ & 0x02) {
    if (bridge_addr_ < kProgramSize) state_.mcu.xdata[kProgramBase + bridge_addr_] = value;
  } else if (bridge_addr_ == 0xFFFF) {
    // MCU_XDATA_DEV_CTRL: bit 0 resets the MCU and clears itself.
    if (value & 0x01) ++state_.mcu.resets;
    state_.mcu.xdata[0xFFFF] = value & 0xFE;
  } else {
    state_.mcu.xdata[bridge_addr_] = value;
  }
}

}  // namespace sim
