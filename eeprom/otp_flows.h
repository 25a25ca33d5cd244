// OTP commands and image file generation.
#pragma once

#include "app/exit_codes.h"
#include "app/run_settings.h"
#include "driver/request_channel.h"

StageResult OtpReadAndSave(RequestChannel& ch, RunSettings& rs);
StageResult OtpWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image);

// -z: generates an EEPROM or OTP image file from the INI file; no device.
// Exit code 0, 9 or 10.
int GenerateImageFile(RunSettings& rs, ImageBuffer& image);
