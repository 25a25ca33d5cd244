// -z: image file generation from the INI file, without a device.
#pragma once

#include <string>

#include "core/run_settings.h"

// Generates an EEPROM image (or an OTP image with -O) into the target file.
// Exit code 0, 9 or 10. On failure the target file is left as it was: the
// image is written beside it first and moved into place only when complete.
int GenerateImageFile(RunSettings& rs, ImageBuffer& image);

// Writes the first `count` bytes of a generated image to `path` in its file
// form: an EEPROM image or an 0xF3 OTP image as it is; an 0xF7 OTP image as
// its signature byte, 256 zero bytes, then image bytes 1 onward (the file
// offset of each byte is its OTP offset plus 1). Prints the outcome; exit
// code 0 or 10.
int WriteImageFile(const std::string& path, const ImageBuffer& image, int count, bool otp);
