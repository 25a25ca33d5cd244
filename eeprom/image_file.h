// -z: image file generation from the INI file, without a device.
#pragma once

#include "app/run_settings.h"

// Generates an EEPROM image (or an OTP image with -O) into the target file.
// Exit code 0, 9 or 10.
int GenerateImageFile(RunSettings& rs, ImageBuffer& image);
