// The driver's request protocol: the request block layout, operation codes
// and names, signatures, the EEPROM command words and OTP configuration
// words, and the PHY data width rule. Both sides of the channel use it: the
// request channel that builds blocks and the simulated controller that
// answers them.
#pragma once

#include <cstdint>

enum OpCode : uint32_t {
  E2P_READ_BYTE = 1,
  E2P_WRITE_BYTE = 2,
  E2P_READ_BLOCK = 3,
  E2P_WRITE_BLOCK = 4,
  E2P_COMMAND = 5,
  GET_DRIVER_VERSION = 7,
  READ_REGISTER = 8,
  WRITE_REGISTER = 9,
  READ_PHY = 10,
  WRITE_PHY = 11,
  READ_TXRX_STATS = 12,
  SET_LINK_MODE = 15,
  GET_ADAPTER_BITS = 16,
  GET_ADAPTER_LOCATION = 17,
  GET_ADAPTER_REGISTRY_KEY = 18,
  GET_ADAPTER_PDO = 19,
  GET_ADAPTER_PORT = 20,
  OTP_READ_BLOCK = 23,
  OTP_WRITE_BLOCK = 24,
  OTP_CONFIGURE = 25,
  SET_LINK_STATE = 26,
  EXECUTE_CABSCAN = 27,
  READ_USB_PHY_STATS = 28,
};

// Operation name as the driver documentation and the simulator's fault rules
// spell it ("EXECUTE CABSCAN" has a blank). Null for an unknown code.
const char* OpName(uint32_t code);

// Request signatures: the default adapter, or the adapter index in the block.
constexpr uint32_t kSignatureDefault = 0x00010002;   // no -X given
constexpr uint32_t kSignatureAdapter = 0x00020001;   // -X given

// Block layout (little-endian): signature, operation code, adapter index in
// and status out, parameter, then the data.
constexpr uint32_t kRequestBlockSize = 4096;
constexpr uint32_t kRequestHeaderSize = 16;
constexpr uint32_t kRequestDataSize = kRequestBlockSize - kRequestHeaderSize;
constexpr uint32_t kBlockSignatureOffset = 0;
constexpr uint32_t kBlockCodeOffset = 4;
constexpr uint32_t kBlockStatusOffset = 8;  // adapter index on the way in
constexpr uint32_t kBlockParamOffset = 12;
constexpr uint32_t kBlockDataOffset = kRequestHeaderSize;

// Statuses the driver answers: 0 success, 1 access failed, anything else
// busy or another error.
constexpr uint32_t kStatusSuccess = 0;
constexpr uint32_t kStatusAccessFailed = 1;

// EEPROM command words and OTP configuration words of the bracketed operations.
constexpr uint32_t kE2pWriteEnable = 0x20000000;
constexpr uint32_t kE2pWriteDisable = 0x10000000;
constexpr uint32_t kOtpOpenRead = 0x02000000;
constexpr uint32_t kOtpOpenProgram = 0x06000002;
constexpr uint32_t kOtpClose = 0x01000000;

// A PHY index carries 32-bit data when bit 31 is set, or bit 29 is set and
// bit 30 clear; every other index carries 16-bit data.
constexpr bool WidePhyIndex(uint32_t index) {
  return (index & 0x80000000u) != 0 || ((index & 0x20000000u) != 0 && (index & 0x40000000u) == 0);
}
