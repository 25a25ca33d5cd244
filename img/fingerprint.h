// The SHA-256 of an image exactly as the production log of orn5300cli
// records it in `image_sha256`, so that an image can be tied to the record
// of the run that programmed it: for an EEPROM the whole part as the write
// leaves it and a read gives it back (the image, then zeros to the part's
// size); for an OTP the configuration's bytes from its signature on.
#pragma once

#include <string>

#include "img/image.h"

namespace img {

struct ImageFingerprint {
  bool present = false;  // false: nothing the tool would program (see `why`)
  std::string sha256;    // 64 lower-case hexadecimal digits
  int bytes = 0;         // how many bytes the digest covers
  std::string covers;    // "the whole 512-byte EEPROM", "the OTP configuration, 276 bytes"
  std::string why;       // when not present
};

// The fingerprint of `image`. An EEPROM image from a file or an INI file is
// taken as programmed into a part of `eeprom_size` bytes (256 or 512); 0
// means the file's own size when it is a whole part (256 or 512 bytes),
// else 512. A device's EEPROM is taken as read. An OTP device's
// configuration ends where its last item ends; an OTP file's where the file
// ends, as `orn5300cli -w -b` reads it.
ImageFingerprint FingerprintOf(const Image& image, int eeprom_size);

}  // namespace img
