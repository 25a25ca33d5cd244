// MAC address and serial number provisioning: stepping, image patching and
// write-back for the next device.
#pragma once

#include <string>

#include "core/run_settings.h"

// Steps MAC address and serial number by their increments; false when
// nothing could be stepped, on overflow or past a maximum (after messages).
bool IncrementIdentity(RunSettings& rs);
// 48-bit add of an 8-bit increment; true on overflow.
bool IncrementMac(MacAddress& mac, int increment);
// Hexadecimal add on the serial number text (same length); true on overflow.
bool IncrementSerial(std::string& serial, int increment);
// True when the characters that a step adds to (the last two, or the only
// one) are hexadecimal digits.
bool SerialCanStep(const std::string& serial);

// Puts the MAC address and serial number (none: slot cleared) into an image
// of rs.ImageByteCount bytes. 0 on success, 1 when the image cannot take the
// serial number (the rebuilt string area does not fit, a descriptor lies
// outside the image, or the chip has no known string area), 2 out of
// memory. On failure the image is unchanged except for the MAC address.
// When the string area grows, rs.ImageByteCount grows to cover it.
int PatchImageIdentity(RunSettings& rs, ImageBuffer& image, const MacAddress& mac,
                       const OptText& serial, int eeprom_size);

// Takes the five USB strings out of the first `byte_count` bytes of an image
// into a scratch record: 0, 2 (out of memory) or -1 when a string
// descriptor lies outside those bytes (after an "ERROR: " message).
int ExtractImageStrings(const ImageBuffer& image, RunSettings& scratch,
                        int byte_count = kImageBufferSize);

// Results of WriteBackIni besides 0, 2 and 3.
constexpr int kWriteBackFileChanged = 4;

// Writes CurrentMacAddress and CurrentSerialNumber back into the INI file in
// place: 0, 2 (out of memory), 3 (file cannot be opened or rewritten) or 4
// (the file no longer holds the recorded value texts; nothing written). A
// file whose length changes is replaced as a whole, never left half written.
int WriteBackIni(const std::string& path, RunSettings& rs);

// Records the value texts that stand at the INI write-back positions
// (rs.MacWriteBackText, rs.SerialWriteBackText), so that the write-back can
// tell whether the file still holds them. 0, or -1 when the file cannot be
// read (nothing recorded).
int RecordIniWriteBackTexts(RunSettings& rs);

// The stepping stage after a verified write with -N: 0 or 10.
int RunSteppingStage(RunSettings& rs, ImageBuffer& image);
