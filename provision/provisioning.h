// MAC address and serial number provisioning: stepping, image patching and
// write-back for the next device.
#pragma once

#include <string>

#include "core/run_settings.h"

// Steps MAC address and serial number by their increments; false when
// nothing could be stepped, on overflow or past a maximum (after messages).
bool IncrementIdentity(RunSettings& rs);

// The identity that IncrementIdentity would step to, and why it would fail.
struct IdentityStep {
  enum Failure {
    kNone,
    kNothingToStep,
    kMacOverflow,
    kMacAboveMaximum,
    kSerialOverflow,
    kSerialAboveMaximum,
  } failure = kNone;
  MacAddress mac{};
  OptText serial;
};
// Computes the next identity without printing or changing the record, so
// that a run can find out before it programs a device that the identity
// cannot be stepped afterwards. false with the first failure.
bool StepIdentity(const RunSettings& rs, IdentityStep& step);

// Serial numbers compare as hexadecimal texts: lower-case digits count as
// their upper-case equivalents. True when `a` is greater than `b`.
bool SerialGreater(const std::string& a, const std::string& b);
// 48-bit add of an 8-bit increment; true on overflow.
bool IncrementMac(MacAddress& mac, int increment);
// Hexadecimal add on the serial number text (same length); true on overflow.
// Lower-case hexadecimal digits step as their upper-case equivalents: the
// stepped text holds upper-case digits only.
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

// Writes CurrentMacAddress and CurrentSerialNumber back into the INI file
// over their old value texts: 0, 2 (out of memory), 3 (file cannot be read
// or rewritten) or 4 (the file no longer holds the recorded value texts;
// nothing written). The file is replaced as a whole, never left half written or torn; a run that
// resolved its identity file (rs.IdentityFilePath) rewrites that real file,
// while messages name `path`.
int WriteBackIni(const std::string& path, RunSettings& rs);

// Records the value texts that stand at the INI write-back positions
// (rs.MacWriteBackText, rs.SerialWriteBackText), so that the write-back can
// tell whether the file still holds them. 0, or -1 when the file cannot be
// read (nothing recorded).
int RecordIniWriteBackTexts(RunSettings& rs);

// The stepping stage after a verified write with -N: 0 or 10.
int RunSteppingStage(RunSettings& rs, ImageBuffer& image);
