// Structural checks of an image: its length and signature, that every
// descriptor slot names bytes inside the image and where the builder puts
// them, the descriptors' lengths, types and string indexes, the strings,
// the wake-up filter block and its checksum, the MAC address and the serial
// number; then, when all of that is sound, the decoder's verdict, so that
// every byte the decoder cannot give from an INI file is a finding too, and
// an image that orn5300cli -z writes has none. For an OTP, which configuration it holds and whether a
// target image could still be programmed without clearing a bit.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "img/image.h"

namespace img {

struct Finding {
  int offset = -1;  // image byte offset, or -1 for the image as a whole
  int size = 0;
  std::vector<uint8_t> raw;
  std::string field;  // the field's name, may be empty
  std::string message;
};

struct CheckReport {
  std::string description;  // "ORN5300 EEPROM image, 276 bytes"
  std::string otp_state;    // for an OTP: which configuration it holds and the space left
  std::vector<Finding> findings;
  std::vector<std::string> notes;  // worth knowing, but no fault of the image
};

// The decoder's verdicts on images that differ only in their identity,
// kept for one run: a batch of dumps of one product is decoded once.
class DecodeMemo {
 public:
  const std::vector<Finding>* Find(const std::string& key) const;
  void Keep(const std::string& key, std::vector<Finding> findings);

 private:
  static constexpr size_t kMaxVerdicts = 256;
  std::map<std::string, std::vector<Finding>> verdicts_;
};

CheckReport CheckImage(const Image& image, DecodeMemo* memo = nullptr);

// Whether `target` could be programmed into the OTP `otp` as the write
// command would: the command's rules for the OTP's state, and no bit of
// the OTP that would have to go from 1 to 0. Findings are added to `report`.
void CheckOtpTarget(const Image& otp, const Image& target, CheckReport& report);

}  // namespace img
