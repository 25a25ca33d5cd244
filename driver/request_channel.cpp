#include "driver/request_channel.h"

#include <cstdio>
#include <cstring>

#include "core/output.h"

namespace {

// How a status other than 0 and 1 is worded for an operation.
enum class Wording { kBusy, kOther };

struct OpInfo {
  uint32_t code;
  const char* message;  // status message, one %s for the wording
  Wording wording;
};

constexpr OpInfo kOps[] = {
    {E2P_READ_BYTE, "E2P_READ_BYTE failed!    status:%s\n", Wording::kBusy},
    {E2P_WRITE_BYTE, "E2P_WRITE_BYTE failed!    status:%s\n", Wording::kBusy},
    {E2P_READ_BLOCK, "E2P_READ_BLOCK failed!    status:%s\n", Wording::kBusy},
    {E2P_WRITE_BLOCK, "E2P_WRITE_BLOCK failed!    status:%s\n",
     Wording::kBusy},
    {E2P_COMMAND, "E2P_COMMAND failed!    status:%s\n", Wording::kBusy},
    {GET_DRIVER_VERSION, "GET_DRIVER_VERSION failed!    status:%s\n",
     Wording::kBusy},
    {READ_REGISTER, "READ_REGISTER failed !    status:%s\n", Wording::kOther},
    {WRITE_REGISTER, "WRITE_REGISTER failed !    status:%s\n",
     Wording::kOther},
    {READ_PHY, "READ_PHY failed !    status:%s\n", Wording::kOther},
    {WRITE_PHY, "WRITE_PHY failed !    status:%s\n", Wording::kOther},
    {READ_TXRX_STATS, "READ_TXRX_STATS failed !    status:%s\n",
     Wording::kOther},
    {SET_LINK_MODE, "SET_LINK_MODE failed !    status:%s\n", Wording::kOther},
    {GET_ADAPTER_BITS, "GET_DRIVER_VERSION failed!    status:%s\n",
     Wording::kBusy},
    {GET_ADAPTER_LOCATION, "GET_DRIVER_VERSION failed!    status:%s\n",
     Wording::kBusy},
    {GET_ADAPTER_REGISTRY_KEY, "GET_DRIVER_VERSION failed!    status:%s\n", Wording::kBusy},
    {GET_ADAPTER_PDO, "GET_DRIVER_VERSION failed!    status:%s\n",
     Wording::kBusy},
    {GET_ADAPTER_PORT, "GET_DRIVER_VERSION failed!    status:%s\n",
     Wording::kBusy},
    {OTP_READ_BLOCK, "OTP_READ_BLOCK failed! status:%s\n", Wording::kBusy},
    {OTP_WRITE_BLOCK, "OTP_WRITE_BLOCK failed! status:%s\n", Wording::kBusy},
    {OTP_CONFIGURE, "OTP_CONFIGURE failed! status:%s\n", Wording::kBusy},
    {SET_LINK_STATE, "SET_LINK_STATE failed !    status:%s\n",
     Wording::kOther},
    {EXECUTE_CABSCAN, "EXECUTE CABSCAN failed !    status:%s\n",
     Wording::kOther},
    {READ_USB_PHY_STATS, "READ_USB_PHY_STATS failed !    status:%s\n",
     Wording::kOther},
};

const OpInfo* FindOp(uint32_t code) {
  for (const OpInfo& op : kOps) {
    if (op.code == code) return &op;
  }
  return nullptr;
}

void Put32(RequestChannel& ch, uint32_t offset, uint32_t value) {
  ch.block[offset] = static_cast<uint8_t>(value);
  ch.block[offset + 1] = static_cast<uint8_t>(value >> 8);
  ch.block[offset + 2] = static_cast<uint8_t>(value >> 16);
  ch.block[offset + 3] = static_cast<uint8_t>(value >> 24);
}

void Put16(RequestChannel& ch, uint32_t offset, uint16_t value) {
  ch.block[offset] = static_cast<uint8_t>(value);
  ch.block[offset + 1] = static_cast<uint8_t>(value >> 8);
}

uint32_t Get32(const RequestChannel& ch, uint32_t offset) {
  return static_cast<uint32_t>(ch.block[offset]) |
         (static_cast<uint32_t>(ch.block[offset + 1]) << 8) |
         (static_cast<uint32_t>(ch.block[offset + 2]) << 16) |
         (static_cast<uint32_t>(ch.block[offset + 3]) << 24);
}

uint16_t Get16(const RequestChannel& ch, uint32_t offset) {
  return static_cast<uint16_t>(ch.block[offset] | (ch.block[offset + 1] << 8));
}

// Writes the header of a request: signature, operation code, adapter index.
// The parameter and data are written by the caller.
void BeginRequest(RequestChannel& ch, uint32_t code) {
  Put32(ch, 0, code == GET_ADAPTER_BITS ? kSignatureAdapter : ch.signature);
  Put32(ch, 4, code);
  Put32(ch, 8, ch.adapter_index);
}

// Sends the block and checks the outcome; prints the failure message.
bool Send(RequestChannel& ch, uint32_t code, uint32_t in_len, uint32_t* returned_out = nullptr) {
  uint32_t returned = 0;
  uint32_t error = 0;
  if (ch.device == nullptr ||
      !ch.device->Control(platform::IOCTL_ORN5300_MP_ACCESS, ch.block.data(), in_len,
                          kRequestBlockSize, returned, error)) {
    if (ch.device == nullptr) error = 6;  // no open handle: ERROR_INVALID_HANDLE
    PrintError("Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : %d\n",
               static_cast<int>(error));
    return false;
  }
  const uint32_t status = Get32(ch, 8);
  if (status != 0) {
    const OpInfo* op = FindOp(code);
    const char* wording = status == 1 ? "Access failed"
                          : (op != nullptr && op->wording == Wording::kOther) ? "Other Error"
                                                                              : "Adapter Busy";
    if (op != nullptr) PrintError(op->message, wording);
    return false;
  }
  if (returned_out != nullptr) *returned_out = returned;
  return true;
}

// A request that carries a 32-bit parameter and no data.
bool SimpleRequest(RequestChannel& ch, uint32_t code, uint32_t param, uint32_t in_len) {
  BeginRequest(ch, code);
  Put32(ch, 12, param);
  return Send(ch, code, in_len);
}

}  // namespace

void SelectAdapter(RequestChannel& ch, int32_t adapter_index) {
  if (adapter_index == -1) {
    ch.signature = kSignatureDefault;
    ch.adapter_index = 0;
  } else {
    ch.signature = kSignatureAdapter;
    ch.adapter_index = static_cast<uint32_t>(adapter_index);
  }
}

void SleepMs(RequestChannel& ch, uint32_t ms) {
  if (ch.device != nullptr) {
    ch.device->Sleep(ms);
  } else {
    platform::SleepMilliseconds(ms);
  }
}

bool E2pCommand(RequestChannel& ch, uint32_t command_word) {
  return SimpleRequest(ch, E2P_COMMAND, command_word, 17);
}

bool E2pReadByte(RequestChannel& ch, uint16_t offset, uint8_t& value) {
  BeginRequest(ch, E2P_READ_BYTE);
  Put16(ch, 12, offset);
  if (!Send(ch, E2P_READ_BYTE, kRequestBlockSize)) return false;
  value = ch.block[16];
  return true;
}

bool E2pWriteByte(RequestChannel& ch, uint16_t offset, uint8_t value) {
  if (!E2pCommand(ch, kE2pWriteEnable)) return false;
  BeginRequest(ch, E2P_WRITE_BYTE);
  Put16(ch, 12, offset);
  Put16(ch, 14, 1);
  ch.block[16] = value;
  const bool own = Send(ch, E2P_WRITE_BYTE, 17);
  const bool closed = E2pCommand(ch, kE2pWriteDisable);
  return own && closed;
}

bool E2pReadBlock(RequestChannel& ch, uint16_t length, uint8_t* data) {
  if (length > kRequestDataSize) return false;
  BeginRequest(ch, E2P_READ_BLOCK);
  Put16(ch, 12, 0);
  Put16(ch, 14, length);
  if (!Send(ch, E2P_READ_BLOCK, kRequestBlockSize)) return false;
  std::memcpy(data, ch.block.data() + 16, length);
  return true;
}

bool E2pWriteBlock(RequestChannel& ch, uint16_t length, const uint8_t* data) {
  if (length > kRequestDataSize) return false;
  if (!E2pCommand(ch, kE2pWriteEnable)) return false;
  BeginRequest(ch, E2P_WRITE_BLOCK);
  Put16(ch, 12, 0);
  Put16(ch, 14, length);
  std::memcpy(ch.block.data() + 16, data, length);
  const bool own = Send(ch, E2P_WRITE_BLOCK, 16u + length);
  const bool closed = E2pCommand(ch, kE2pWriteDisable);
  return own && closed;
}

bool GetDriverVersion(RequestChannel& ch, std::array<uint32_t, 4>& version) {
  BeginRequest(ch, GET_DRIVER_VERSION);
  if (!Send(ch, GET_DRIVER_VERSION, kRequestBlockSize)) return false;
  for (uint32_t i = 0; i < 4; ++i) version[i] = Get32(ch, 16 + 4 * i);
  return true;
}

bool ReadRegister(RequestChannel& ch, uint32_t address, uint32_t& value) {
  if (!SimpleRequest(ch, READ_REGISTER, address, kRequestBlockSize)) return false;
  value = Get32(ch, 16);
  return true;
}

bool WriteRegister(RequestChannel& ch, uint32_t address, uint32_t value) {
  BeginRequest(ch, WRITE_REGISTER);
  Put32(ch, 12, address);
  Put32(ch, 16, value);
  return Send(ch, WRITE_REGISTER, 20);
}

bool ReadPhy(RequestChannel& ch, uint32_t index, uint32_t& value) {
  BeginRequest(ch, READ_PHY);
  Put32(ch, 12, index);
  uint32_t returned = 0;
  if (!Send(ch, READ_PHY, kRequestBlockSize, &returned)) return false;
  if (returned >= 16 && returned <= 18) {
    value = (value & 0xFFFF0000u) | Get16(ch, 16);
  } else {
    value = Get32(ch, 16);
  }
  return true;
}

bool ReadPhy16(RequestChannel& ch, uint32_t index, uint16_t& value) {
  uint32_t wide = 0;
  if (!ReadPhy(ch, index, wide)) return false;
  value = static_cast<uint16_t>(wide);
  return true;
}

bool WritePhy(RequestChannel& ch, uint32_t index, uint32_t value) {
  const bool wide = WidePhyIndex(index);
  BeginRequest(ch, WRITE_PHY);
  Put32(ch, 12, index);
  if (wide) {
    Put32(ch, 16, value);
    return Send(ch, WRITE_PHY, 20);
  }
  Put16(ch, 16, static_cast<uint16_t>(value));
  return Send(ch, WRITE_PHY, 18);
}

bool ReadTxRxStats(RequestChannel& ch, std::array<uint32_t, 47>& counters) {
  BeginRequest(ch, READ_TXRX_STATS);
  if (!Send(ch, READ_TXRX_STATS, kRequestBlockSize)) return false;
  for (uint32_t i = 0; i < counters.size(); ++i) counters[i] = Get32(ch, 16 + 4 * i);
  return true;
}

bool ReadUsbPhyStats(RequestChannel& ch, std::array<uint32_t, 16>& counters) {
  BeginRequest(ch, READ_USB_PHY_STATS);
  if (!Send(ch, READ_USB_PHY_STATS, kRequestBlockSize)) return false;
  for (uint32_t i = 0; i < counters.size(); ++i) counters[i] = Get32(ch, 16 + 4 * i);
  return true;
}

bool SetLinkMode(RequestChannel& ch, uint32_t mode, uint8_t& reply) {
  BeginRequest(ch, SET_LINK_MODE);
  Put32(ch, 16, mode);
  if (!Send(ch, SET_LINK_MODE, 20)) return false;
  reply = ch.block[16];
  return true;
}

bool SetLinkState(RequestChannel& ch, uint32_t state) {
  BeginRequest(ch, SET_LINK_STATE);
  Put32(ch, 16, state);
  return Send(ch, SET_LINK_STATE, 20);
}

bool ExecuteCabScan(RequestChannel& ch, std::array<uint16_t, 3>& words) {
  BeginRequest(ch, EXECUTE_CABSCAN);
  Put32(ch, 16, 0);  // the four data bytes carry nothing
  if (!Send(ch, EXECUTE_CABSCAN, 20)) return false;
  for (uint32_t i = 0; i < 3; ++i) words[i] = Get16(ch, 16 + 2 * i);
  return true;
}

bool GetAdapterBits(RequestChannel& ch, std::array<uint32_t, 3>& bits) {
  BeginRequest(ch, GET_ADAPTER_BITS);
  if (!Send(ch, GET_ADAPTER_BITS, kRequestBlockSize)) return false;
  for (uint32_t i = 0; i < 3; ++i) bits[i] = Get32(ch, 16 + 4 * i);
  return true;
}

bool GetAdapterText(RequestChannel& ch, OpCode op, AdapterText& text) {
  BeginRequest(ch, op);
  if (!Send(ch, op, kRequestBlockSize)) return false;
  // Copy up to the NUL or the end of the buffer, keeping room for the NUL
  // and never splitting a surrogate pair.
  size_t n = 0;
  const size_t limit = text.size() - 1;
  while (n < limit) {
    const char16_t c = static_cast<char16_t>(Get16(ch, 16 + 2 * static_cast<uint32_t>(n)));
    if (c == 0) break;
    text[n++] = c;
  }
  if (n == limit && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  text[n] = 0;
  return true;
}

bool GetAdapterPort(RequestChannel& ch, uint32_t& port) {
  BeginRequest(ch, GET_ADAPTER_PORT);
  if (!Send(ch, GET_ADAPTER_PORT, kRequestBlockSize)) return false;
  port = Get32(ch, 16);
  return true;
}

bool OtpConfigure(RequestChannel& ch, uint32_t config_word) {
  return SimpleRequest(ch, OTP_CONFIGURE, config_word, 17);
}

bool OtpReadBlock(RequestChannel& ch, uint16_t offset, uint16_t length, uint8_t* data) {
  if (length > kRequestDataSize) return false;
  if (!OtpConfigure(ch, kOtpOpenRead)) return false;
  BeginRequest(ch, OTP_READ_BLOCK);
  Put16(ch, 12, offset);
  Put16(ch, 14, length);
  const bool own = Send(ch, OTP_READ_BLOCK, kRequestBlockSize);
  if (own) std::memcpy(data, ch.block.data() + 16, length);
  const bool closed = OtpConfigure(ch, kOtpClose);
  return own && closed;
}

bool OtpWriteBlock(RequestChannel& ch, uint16_t offset, uint16_t length, const uint8_t* data) {
  if (length > kRequestDataSize) return false;
  if (!OtpConfigure(ch, kOtpOpenProgram)) return false;
  BeginRequest(ch, OTP_WRITE_BLOCK);
  Put16(ch, 12, offset);
  Put16(ch, 14, length);
  std::memcpy(ch.block.data() + 16, data, length);
  const bool own = Send(ch, OTP_WRITE_BLOCK, 16u + length);
  const bool closed = OtpConfigure(ch, kOtpClose);
  return own && closed;
}
