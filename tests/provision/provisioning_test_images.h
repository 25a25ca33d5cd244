// Small builders of configuration images and helpers shared by the binary
// image and provisioning tests.
#pragma once

#include <memory>
#include <string>

#include "core/run_settings.h"
#include "config/image_layout.h"

namespace provtest {

// Writes a string descriptor at byte `pos` and points `slot` at it; returns
// the byte just after it.
inline int PutString(ImageBuffer& image, int slot, int pos, const std::string& text) {
  const int bias = image[0] == 0xF7 ? 128 : 0;
  image[slot] = static_cast<uint8_t>(2 * text.size() + 2);
  image[slot + 1] = static_cast<uint8_t>(bias + pos / 2);
  image[pos] = image[slot];
  image[pos + 1] = 0x03;
  for (size_t i = 0; i < text.size(); ++i) {
    image[pos + 2 + 2 * i] = static_cast<uint8_t>(text[i]);
    image[pos + 3 + 2 * i] = (text[i] & 0x80) ? 0xFF : 0;
  }
  return pos + 2 + 2 * static_cast<int>(text.size());
}

// Points a block slot at `pos` and fills the block with `fill`; returns its end.
inline int PutBlock(ImageBuffer& image, int slot, int pos, int length, uint8_t fill) {
  const int bias = image[0] == 0xF7 ? 128 : 0;
  image[slot] = static_cast<uint8_t>(length);
  image[slot + 1] = static_cast<uint8_t>(bias + pos / 2);
  for (int i = 0; i < length; ++i) image[pos + i] = static_cast<uint8_t>(fill + i);
  return pos + length;
}

// An ORN5300-layout image: signature, MAC, a BOS slot, manufacturer "ACME"
// and the serial number from offset `start`. `end` receives the string end.
inline ImageBuffer MakeImage(uint8_t signature, const MacAddress& mac, const std::string& serial,
                             int* end = nullptr, int start = 192) {
  ImageBuffer image{};
  image[0] = signature;
  std::copy(mac.begin(), mac.end(), image.begin() + 1);
  const int bias = signature == 0xF7 ? 128 : 0;
  image[0x2F] = 22;
  image[0x30] = static_cast<uint8_t>(bias + 0x31);
  int pos = PutString(image, 0x25, start, "ACME");
  pos = PutString(image, 0x29, pos, serial);
  if (end) *end = pos;
  return image;
}

// Characters of the string a slot describes, read the way the layout
// writes them.
inline std::string SlotString(const ImageBuffer& image, int slot) {
  const int bias = image[0] == 0xF7 ? 128 : 0;
  const int pos = 2 * (image[slot + 1] - bias);
  std::string text;
  for (int i = 0; i < image[slot] / 2 - 1; ++i) text.push_back(static_cast<char>(image[pos + 2 + 2 * i]));
  return text;
}

// True when the string area writer of the image layout is built in.
inline bool LayoutStringsAvailable() {
  auto rs = std::make_unique<RunSettings>();
  rs->ManufacturerString.emplace("A");
  ImageBuffer image{};
  image[0] = 0xA5;
  return LayoutStrings(*rs, image, 192) == 0;
}

}  // namespace provtest
