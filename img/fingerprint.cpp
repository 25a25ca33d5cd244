#include "img/fingerprint.h"

#include <algorithm>
#include <vector>

#include "core/sha256.h"
#include "img/fields.h"

namespace img {

ImageFingerprint FingerprintOf(const Image& image, int eeprom_size) {
  ImageFingerprint out;
  std::vector<uint8_t> bytes;
  switch (image.kind) {
    case ImageKind::kEeprom: {
      if (image.source == SourceType::kDevice) {
        bytes = image.raw;
      } else {
        const size_t own = image.raw.size();
        const size_t part = eeprom_size != 0 ? static_cast<size_t>(eeprom_size) : (own == 256 ? 256 : 512);
        if (own > part) {
          out.why = "the image (" + std::to_string(own) + " bytes) is larger than a " + std::to_string(part) +
                    "-byte EEPROM";
          return out;
        }
        bytes = image.raw;
        bytes.resize(part, 0);
      }
      out.covers = "the whole " + std::to_string(bytes.size()) + "-byte EEPROM";
      break;
    }
    case ImageKind::kOtpFirst:
    case ImageKind::kOtpSecond: {
      bytes = image.bytes;
      if (image.source == SourceType::kDevice) {
        bytes.resize(static_cast<size_t>(std::min<int>(ImageExtent(image), static_cast<int>(bytes.size()))));
      }
      out.covers = "the OTP configuration, " + std::to_string(bytes.size()) + " bytes";
      break;
    }
    default:
      out.why = std::string("the source holds no configuration: ") + KindName(image.kind);
      return out;
  }
  out.present = true;
  out.bytes = static_cast<int>(bytes.size());
  out.sha256 = Sha256::Hex(bytes.data(), bytes.size());
  return out;
}

}  // namespace img
