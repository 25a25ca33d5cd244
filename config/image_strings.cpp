// The string descriptor area of an image and the wake-up filter checksum.
#include <algorithm>
#include <cstddef>

#include "core/output.h"
#include "config/image_layout.h"

namespace {

// The five strings in the order they are laid out, with their slots.
struct StringItem {
  const OptText* text;
  int slot;
  const char* name;
};

}  // namespace

int LayoutStrings(RunSettings& rs, ImageBuffer& image, int start_offset) {
  const StringItem items[] = {
      {&rs.ManufacturerString, kSlotManufacturer, "ManufacturerString"},
      {&rs.ProductString, kSlotProduct, "ProductString"},
      {&rs.CurrentSerialNumber, kSlotSerialNumber, "CurrentSerialNumber"},
      {&rs.ConfigurationString, kSlotConfiguration, "ConfigurationString"},
      {&rs.InterfaceString, kSlotInterface, "InterfaceString"},
  };
  // An 0xF7 image is the second OTP configuration: its word offsets are
  // absolute OTP word addresses, 128 words further on.
  const int bias = image[0] == kSignatureOtpSecond ? 128 : 0;
  // Never write past the buffer, whatever EEPROM size the record claims.
  const int limit = std::clamp(rs.EepromSize, 0, kImageBufferSize) / 2;
  int w = start_offset / 2;

  auto put_word = [&](uint8_t low, uint8_t high) {
    if (w >= limit) return false;
    image[static_cast<size_t>(2 * w)] = low;
    image[static_cast<size_t>(2 * w + 1)] = high;
    ++w;
    return true;
  };

  for (const StringItem& item : items) {
    uint8_t* slot = &image[static_cast<size_t>(item.slot)];
    if (!item.text->has_value()) {
      slot[0] = 0;
      slot[1] = 0;
      continue;
    }
    const std::string& text = **item.text;
    const int n = static_cast<int>(text.size());
    if (n > kMaxStringCharacters) {
      // Its descriptor length 2n+2 would not fit the one-byte length.
      PrintError("%s has %d characters; a USB string descriptor holds at most %d\n", item.name, n,
                 kMaxStringCharacters);
      return -1;
    }
    const uint8_t length = static_cast<uint8_t>(2 * n + 2);
    slot[0] = length;
    slot[1] = static_cast<uint8_t>(bias + w);
    bool fits = put_word(length, 0x03);
    for (size_t i = 0; fits && i < text.size(); ++i) {
      const uint8_t code = static_cast<uint8_t>(text[i]);
      // Characters are widened by sign extension.
      fits = put_word(code, code >= 0x80 ? 0xFF : 0x00);
    }
    if (!fits) {
      PrintWarning("The size of generated binary is greater than EEPROM size(%dBytes)\n",
                   rs.EepromSize);
      return -1;
    }
  }
  rs.ImageByteCount = 2 * w;
  return 0;
}

uint16_t WakeFilterCrc16(const uint8_t* pattern) {
  uint32_t reg = 0xFFFF;
  for (int i = 0; i < 128; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const uint32_t in = (pattern[i] >> bit) & 1u;
      const uint32_t top = (reg >> 15) & 1u;
      reg = (reg << 1) & 0xFFFF;
      if (in != top) reg ^= 0x8005;
    }
  }
  return static_cast<uint16_t>(reg);
}
