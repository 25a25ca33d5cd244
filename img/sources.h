// The sources every command takes: a binary file (an EEPROM image or an
// OTP file form), an INI file (rendered as -z would), or a device
// ("device" or "device:N" for adapter N), read through the request channel
// as -r reads it, without a single write.
#pragma once

#include <string>

#include "img/image.h"
#include "img/render.h"

namespace img {

struct SourceRef {
  SourceType type = SourceType::kFile;
  std::string path;  // file or INI path
  int adapter = -1;  // device: -1 for the default adapter
  std::string text;  // as named on the command line
};

// "device", "device:N", "ini:PATH", "bin:PATH", a path ending in ".ini"
// (any case) or any other path. False with `error` set for a malformed
// device adapter number or an empty path.
bool ParseSourceRef(const std::string& argument, SourceRef& ref, std::string& error);

struct SourceOptions {
  bool otp = false;                  // --otp
  bool eeprom = false;               // --eeprom
  Layout model = Layout::kUnknown;   // --model
  int eeprom_size = 0;               // --eeprom-size; 0 detects
};

struct Loaded {
  bool ok = false;
  std::string error;  // one line, when not ok
  std::string note;   // one line worth telling the user, may be empty
  Image image;
  Rendered rendered;  // INI sources
};

// Loads a source. INI sources are rendered in the layout and kind of
// `reference` when one is given (the other side of a diff, the OTP of a
// check target) that is not itself an INI file, and neither --model nor
// --otp says otherwise.
Loaded LoadSource(const SourceRef& ref, const SourceOptions& options,
                  const Image* reference = nullptr);

// The EEPROM size a 512-byte read shows without writing: a 256-byte part
// mirrors its bytes at 256 to 511. Equal halves mean 256 only when the first
// half holds an EEPROM image that ends within 256 bytes; otherwise 512.
int EepromSizeFromRead(const std::vector<uint8_t>& read512, bool& certain);

}  // namespace img
