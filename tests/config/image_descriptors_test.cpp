// Walks the USB descriptors of generated images the way a host would, from
// the slots alone, and checks lengths, types, totals and string indices.
// Also checks the wake-up filter checksum against a table-driven reference.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "config/image_layout.h"
#include "image_test_util.h"
#include "support/capture.h"

namespace {

struct Slot {
  int length;
  int byte_offset;  // unbiased position in the image
};

Slot ReadSlot(const ImageBuffer& image, int slot, int bias_words) {
  return {image[slot], ((image[slot + 1] - bias_words) & 0xFF) * 2};
}

int Le16(const ImageBuffer& image, int at) { return image[at] | image[at + 1] << 8; }

// Checks one image; `super_speed` tells which layout it should have.
void WalkImage(const ImageBuffer& image, int count, bool super_speed, int bias_words) {
  SCOPED_TRACE(super_speed ? "ORN5300 layout" : "ORN5350 layout");
  // String slots: each points at a string descriptor of the slot's length.
  const int string_slots[] = {0x25, 0x27, 0x29, 0x2B, 0x2D};
  bool present[6] = {};
  for (int index = 1; index <= 5; ++index) {
    const Slot s = ReadSlot(image, string_slots[index - 1], bias_words);
    if (s.length == 0) continue;
    present[index] = true;
    ASSERT_LE(s.byte_offset + s.length, count);
    EXPECT_EQ(image[s.byte_offset], s.length) << "string " << index;
    EXPECT_EQ(image[s.byte_offset + 1], 3) << "string " << index;
  }

  // BOS: the capabilities add up to the total length.
  const Slot bos = ReadSlot(image, 0x2F, bias_words);
  ASSERT_EQ(image[bos.byte_offset], 5);
  ASSERT_EQ(image[bos.byte_offset + 1], 0x0F);
  const int total = Le16(image, bos.byte_offset + 2);
  EXPECT_EQ(total, bos.length);
  int at = bos.byte_offset + 5;
  std::vector<int> capabilities;
  for (int i = 0; i < image[bos.byte_offset + 4]; ++i) {
    EXPECT_EQ(image[at + 1], 0x10);  // device capability
    capabilities.push_back(image[at + 2]);
    at += image[at];
  }
  EXPECT_EQ(at - bos.byte_offset, total);
  EXPECT_EQ(capabilities, super_speed ? std::vector<int>({2, 3}) : std::vector<int>({2}));

  // Device and configuration slots, each pair in the order device, config.
  struct Pair {
    int device_slot, config_slot, bcd_usb, max_packet, total_length, endpoint_bytes;
  };
  std::vector<Pair> pairs;
  if (super_speed) pairs.push_back({0x31, 0x33, 0x0310, 9, 0x39, 7 + 6});
  const int hs_bcd = super_speed ? 0x0210 : 0x0201;
  pairs.push_back({0x35, 0x37, hs_bcd, 64, 0x27, 7});
  pairs.push_back({0x39, 0x3B, hs_bcd, 64, 0x27, 7});
  if (!super_speed) {
    for (int slot = 0x31; slot < 0x35; ++slot) EXPECT_EQ(image[slot], 0);
  }
  for (const Pair& p : pairs) {
    const Slot dev = ReadSlot(image, p.device_slot, bias_words);
    ASSERT_EQ(dev.length, 18);
    EXPECT_EQ(image[dev.byte_offset], 18);
    EXPECT_EQ(image[dev.byte_offset + 1], 1);
    EXPECT_EQ(Le16(image, dev.byte_offset + 2), p.bcd_usb);
    EXPECT_EQ(image[dev.byte_offset + 7], p.max_packet);
    for (int k = 14; k <= 16; ++k) {
      const int index = image[dev.byte_offset + k];
      if (k == 16) {
        EXPECT_EQ(index, 3);  // the serial number index is always there
      } else {
        EXPECT_EQ(index != 0, present[k - 13]) << "device string field " << k;
        if (index != 0) {
          EXPECT_EQ(index, k - 13);
        }
      }
    }
    EXPECT_EQ(image[dev.byte_offset + 17], 1);

    const Slot cfg = ReadSlot(image, p.config_slot, bias_words);
    ASSERT_EQ(cfg.length, 18);
    const int c = cfg.byte_offset;
    EXPECT_EQ(image[c], 9);
    EXPECT_EQ(image[c + 1], 2);
    EXPECT_EQ(image[c + 4], 1);  // one interface
    const int interface = c + image[c];
    EXPECT_EQ(image[interface], 9);
    EXPECT_EQ(image[interface + 1], 4);
    // The device adds its endpoint descriptors to what the image holds.
    EXPECT_EQ(Le16(image, c + 2), 9 + 9 + image[interface + 4] * p.endpoint_bytes);
    EXPECT_EQ(image[c + 6] != 0, present[4]);
    EXPECT_EQ(image[interface + 8] != 0, present[5]);
    EXPECT_EQ(image[c + 7] & 0x9F, 0x80);
  }
}

TEST(ImageDescriptors, HostWalkOverTypicalImages) {
  for (int variant = 0; variant < 4; ++variant) {
    RunSettings rs = (variant % 2 == 0) ? image_test::Typical5300() : image_test::Typical5350();
    if (variant >= 2) {
      rs.ManufacturerString = "Orion Devices";
      rs.ProductString = "USB 3 Ethernet";
      rs.CurrentSerialNumber = "000000000001";
      rs.ConfigurationString = "Default";
      rs.InterfaceString = "Ethernet";
      rs.LTMBELTGiven = 1;
    }
    for (int mode : {kImageModeEeprom, kImageModeOtp}) {
      for (int signature : {0xF3, 0xF7}) {
        rs.OtpSignature = signature;
        ImageBuffer image{};
        int rc = 0;
        test::CaptureStdout([&] { rc = GenerateImage(rs, image, mode); });
        ASSERT_EQ(rc, 0) << variant;
        const int bias = (mode == kImageModeOtp && signature == 0xF7) ? 128 : 0;
        WalkImage(image, rs.ImageByteCount, variant % 2 == 0, bias);
      }
    }
  }
}

// CRC-16 with the polynomial 0x8005 over bits taken least significant
// first: the same as the byte-wise MSB-first table formulation over
// bit-reversed bytes.
uint16_t TableReference(const std::array<uint8_t, 128>& pattern) {
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
      uint16_t v = static_cast<uint16_t>(i << 8);
      for (int k = 0; k < 8; ++k) v = static_cast<uint16_t>((v & 0x8000) ? (v << 1) ^ 0x8005 : v << 1);
      t[i] = v;
    }
    return t;
  }();
  auto reverse = [](uint8_t b) {
    uint8_t r = 0;
    for (int k = 0; k < 8; ++k) r = static_cast<uint8_t>(r << 1 | ((b >> k) & 1));
    return r;
  };
  uint16_t crc = 0xFFFF;
  for (uint8_t b : pattern) {
    crc = static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ reverse(b)) & 0xFF]);
  }
  return crc;
}

TEST(WakeFilterCrc, ZeroPatternAndRandomPatterns) {
  std::array<uint8_t, 128> pattern{};
  EXPECT_EQ(WakeFilterCrc16(pattern.data()), 0x7FDF);
  EXPECT_EQ(TableReference(pattern), 0x7FDF);

  std::mt19937 rng(5300);
  for (int round = 0; round < 200; ++round) {
    const int used = static_cast<int>(rng() % 129);  // the rest stays 0, as from the INI file
    pattern.fill(0);
    for (int i = 0; i < used; ++i) pattern[i] = static_cast<uint8_t>(rng());
    ASSERT_EQ(WakeFilterCrc16(pattern.data()), TableReference(pattern)) << "round " << round;
  }
  // Every byte counts, also the last one.
  pattern.fill(0);
  pattern[127] = 0x80;
  EXPECT_NE(WakeFilterCrc16(pattern.data()), 0x7FDF);
}

}  // namespace
