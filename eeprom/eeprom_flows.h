// EEPROM commands: size probe, read and save, write and verify.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/exit_codes.h"
#include "core/run_settings.h"
#include "driver/request_channel.h"

// Destructive probe that restores what it changes: 256 or 512.
bool DetectEepromSize(RequestChannel& ch, int32_t& size);

// Stage (a): fixes rs.EepromSize. Exit code 0 or 5.
int FixEepromSize(RequestChannel& ch, RunSettings& rs);

StageResult EepromReadAndSave(RequestChannel& ch, RunSettings& rs);
StageResult EepromWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image);

// 0 match, 6 count above 512, 5 read failed, 1 mismatch.
int VerifyEeprom(RequestChannel& ch, const uint8_t* image, int count);

// Saving a read-back: the file is opened for reading and writing (created
// when missing) and written over from its start, never shortened, so a
// longer file keeps its tail. Shared by the EEPROM and OTP read flows, which
// word their messages differently.
enum class SaveOutcome {
  kSaved,
  kOpenFailed,   // the file could not be created or opened
  kWriteFailed,  // nothing could be written, or the data did not reach the file
  kShortWrite,   // only part of the data was written
};
SaveOutcome SaveReadBack(const std::string& path, const uint8_t* data, size_t length);

// The default save file name: the model file prefix and `suffix`.
std::string DefaultSaveName(const RunSettings& rs, const char* suffix);
