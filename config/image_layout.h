// EEPROM and OTP image layouts and their generation from the run settings.
#pragma once

#include <cstdint>

#include "app/run_settings.h"

constexpr int kImageModeEeprom = 1;
constexpr int kImageModeOtp = 2;

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
// when they do not fit below rs.EepromSize.
int LayoutStrings(RunSettings& rs, ImageBuffer& image, int start_offset);

// Checksum of the 128 wake-up filter pattern bytes.
uint16_t WakeFilterCrc16(const uint8_t* pattern);
