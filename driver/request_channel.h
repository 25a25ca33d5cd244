// The driver request channel: one 4096-byte request block for the whole run,
// the adapter selection, and every operation the tool sends to the driver.
// Each operation prints its own failure message ("ERROR: " and the
// operation's status message) and returns true on success, false on failure.
#pragma once

#include <array>
#include <cstdint>

#include "driver/protocol.h"
#include "platform/device_control.h"

// Result buffer of the text queries: 256 bytes of UTF-16.
using AdapterText = std::array<char16_t, 128>;

// The channel: the request block, the adapter selection and the open device.
// The block is never cleared; bytes an operation does not write keep what the
// previous one left there.
struct RequestChannel {
  alignas(8) std::array<uint8_t, kRequestBlockSize> block{};
  uint32_t signature = kSignatureDefault;
  uint32_t adapter_index = 0;
  platform::DeviceControl* device = nullptr;
};

// Sets the adapter selection from the -X index: -1 (not given) selects the
// default signature and adapter 0, any other value the adapter signature and
// that index.
void SelectAdapter(RequestChannel& ch, int32_t adapter_index);

// Sleeps through the device (virtual time on a simulated device).
void SleepMs(RequestChannel& ch, uint32_t ms);

bool E2pReadByte(RequestChannel& ch, uint16_t offset, uint8_t& value);
bool E2pWriteByte(RequestChannel& ch, uint16_t offset, uint8_t value);  // bracketed
bool E2pReadBlock(RequestChannel& ch, uint16_t length, uint8_t* data);  // from offset 0
bool E2pWriteBlock(RequestChannel& ch, uint16_t length, const uint8_t* data);  // bracketed
bool E2pCommand(RequestChannel& ch, uint32_t command_word);

bool GetDriverVersion(RequestChannel& ch, std::array<uint32_t, 4>& version);
bool ReadRegister(RequestChannel& ch, uint32_t address, uint32_t& value);
bool WriteRegister(RequestChannel& ch, uint32_t address, uint32_t value);

// READ_PHY: a reply of 16 to 18 bytes sets only the low 16 bits of `value`
// (the upper half keeps what the caller put there); otherwise all 32 bits.
bool ReadPhy(RequestChannel& ch, uint32_t index, uint32_t& value);
// 16-bit PHY register read: READ_PHY into a 32-bit value that starts at 0.
bool ReadPhy16(RequestChannel& ch, uint32_t index, uint16_t& value);
// WRITE_PHY: 32-bit data when bit 31 of the index is set, or bit 29 set and
// bit 30 clear; otherwise 16-bit data.
bool WritePhy(RequestChannel& ch, uint32_t index, uint32_t value);

bool ReadTxRxStats(RequestChannel& ch, std::array<uint32_t, 47>& counters);
bool ReadUsbPhyStats(RequestChannel& ch, std::array<uint32_t, 16>& counters);
bool SetLinkMode(RequestChannel& ch, uint32_t mode, uint8_t& reply);
bool SetLinkState(RequestChannel& ch, uint32_t state);
bool ExecuteCabScan(RequestChannel& ch, std::array<uint16_t, 3>& words);

bool GetAdapterBits(RequestChannel& ch, std::array<uint32_t, 3>& bits);
// Text queries (GET_ADAPTER_LOCATION, GET_ADAPTER_REGISTRY_KEY,
// GET_ADAPTER_PDO). A reply longer than the buffer is cut at a character
// boundary; the result is always NUL-terminated.
bool GetAdapterText(RequestChannel& ch, OpCode op, AdapterText& text);
bool GetAdapterPort(RequestChannel& ch, uint32_t& port);

bool OtpConfigure(RequestChannel& ch, uint32_t config_word);
bool OtpReadBlock(RequestChannel& ch, uint16_t offset, uint16_t length, uint8_t* data);  // bracketed
bool OtpWriteBlock(RequestChannel& ch, uint16_t offset, uint16_t length,
                   const uint8_t* data);  // bracketed
