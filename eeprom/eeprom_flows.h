// EEPROM commands: size probe, read and save, write and verify.
#pragma once

#include <cstdint>

#include "app/exit_codes.h"
#include "app/run_settings.h"
#include "driver/request_channel.h"

// Destructive probe that restores what it changes: 256 or 512.
bool DetectEepromSize(RequestChannel& ch, int32_t& size);

// Stage (a): fixes rs.EepromSize. Exit code 0 or 5.
int FixEepromSize(RequestChannel& ch, RunSettings& rs);

StageResult EepromReadAndSave(RequestChannel& ch, RunSettings& rs);
StageResult EepromWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image);

// 0 match, 6 count above 512, 5 read failed, 1 mismatch.
int VerifyEeprom(RequestChannel& ch, const uint8_t* image, int count);
