// EEPROM and OTP image layouts and their generation from the run settings.
#pragma once

#include <cstdint>

#include "core/run_settings.h"

constexpr int kImageModeEeprom = 1;
constexpr int kImageModeOtp = 2;

// Signature bytes at image offset 0.
constexpr uint8_t kSignatureEeprom = 0xA5;
constexpr uint8_t kSignatureOtpFirst = 0xF3;
constexpr uint8_t kSignatureOtpSecond = 0xF7;

// Where the string area starts in each layout.
constexpr int kStringStart5300 = 192;
constexpr int kStringStart5350 = 146;

// A USB string descriptor's one-byte length (2n+2) limits a string to this
// many characters.
constexpr int kMaxStringCharacters = 126;

// Descriptor slots: a length byte followed by a word-offset byte.
constexpr int kSlotManufacturer = 0x25;
constexpr int kSlotProduct = 0x27;
constexpr int kSlotSerialNumber = 0x29;
constexpr int kSlotConfiguration = 0x2B;
constexpr int kSlotInterface = 0x2D;
constexpr int kSlotBos = 0x2F;
constexpr int kSlotSsDevice = 0x31;
constexpr int kSlotSsConfiguration = 0x33;
constexpr int kSlotHsDevice = 0x35;
constexpr int kSlotHsConfiguration = 0x37;
constexpr int kSlotDevice3 = 0x39;
constexpr int kSlotConfiguration3 = 0x3B;
constexpr int kSlotWakeFilter = 0x3D;
constexpr int kSlotLtmBelt = 0x3F;
constexpr int kSlotCommonTestBus = 0x41;

// Builds an image in the ORN5300 layout (models ORN5300 and ORN5301) or the
// ORN5350 layout into a zeroed buffer. 0 on success (ImageByteCount set),
// -1 after the messages.
int BuildImage5300(RunSettings& rs, ImageBuffer& image, int mode);
int BuildImage5350(RunSettings& rs, ImageBuffer& image, int mode);

// Chooses the builder by the chip ID; any chip without a layout prints
// "ERROR: " "Invalid chip\n" and fails with -1.
int GenerateImage(RunSettings& rs, ImageBuffer& image, int mode);

// Lays out the five USB strings from `start_offset` (192 ORN5300, 146
// ORN5350). Sets rs.ImageByteCount to the end of the last string word; -1
// when they do not fit below rs.EepromSize, or when a string is longer than
// a string descriptor can describe.
int LayoutStrings(RunSettings& rs, ImageBuffer& image, int start_offset);

// Checksum of the 128 wake-up filter pattern bytes.
uint16_t WakeFilterCrc16(const uint8_t* pattern);
