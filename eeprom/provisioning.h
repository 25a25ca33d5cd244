// MAC address and serial number provisioning: stepping, image patching and
// write-back for the next device.
#pragma once

#include <string>

#include "app/run_settings.h"

// Steps MAC address and serial number by their increments; false when
// nothing could be stepped, on overflow or past a maximum (after messages).
bool IncrementIdentity(RunSettings& rs);
// 48-bit add of an 8-bit increment; true on overflow.
bool IncrementMac(MacAddress& mac, int increment);
// Hexadecimal add on the serial number text (same length); true on overflow.
bool IncrementSerial(std::string& serial, int increment);

// Puts the MAC address and serial number (none: slot cleared) into an image.
// 0 on success, 1 when the rebuilt string area does not fit, 2 out of memory.
int PatchImageIdentity(RunSettings& rs, ImageBuffer& image, const MacAddress& mac,
                       const OptText& serial, int eeprom_size);

// Takes the five USB strings out of an image into a scratch record: 0 or 2.
int ExtractImageStrings(const ImageBuffer& image, RunSettings& scratch);

// Writes CurrentMacAddress and CurrentSerialNumber back into the INI file in
// place: 0, 2 (out of memory) or 3 (file cannot be opened or rewritten).
int WriteBackIni(const std::string& path, RunSettings& rs);

// The stepping stage after a verified write with -N: 0 or 10.
int RunSteppingStage(RunSettings& rs, ImageBuffer& image);
