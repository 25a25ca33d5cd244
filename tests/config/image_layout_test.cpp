// Image layouts against hand-made golden images and the rules for flags,
// power, polling intervals, signatures, strings and optional blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/image_layout.h"
#include "image_test_util.h"
#include "support/capture.h"

namespace {

using image_test::Head;
using image_test::ReadHexFixture;
using test::CaptureStdout;

struct Built {
  int rc = 0;
  std::string out;
  ImageBuffer image{};
  int count = 0;
};

Built Build(RunSettings rs, int mode = kImageModeEeprom) {
  Built b;
  b.out = CaptureStdout([&] { b.rc = GenerateImage(rs, b.image, mode); });
  b.count = rs.ImageByteCount;
  return b;
}

TEST(ImageGolden, Orn5300WithoutStrings) {
  const std::vector<uint8_t> golden = ReadHexFixture("orn5300_no_strings.hex");
  ASSERT_EQ(golden.size(), 192u);
  const Built b = Build(image_test::Typical5300());
  EXPECT_EQ(b.rc, 0);
  EXPECT_EQ(b.out, "");
  EXPECT_EQ(b.count, 192);
  EXPECT_EQ(Head(b.image, 192), golden);
  for (size_t i = 192; i < b.image.size(); ++i) ASSERT_EQ(b.image[i], 0) << i;
}

TEST(ImageGolden, Orn5350WithStringsAndBlocks) {
  const std::vector<uint8_t> golden = ReadHexFixture("orn5350_typical.hex");
  ASSERT_EQ(golden.size(), 198u);
  const Built b = Build(image_test::Typical5350());
  EXPECT_EQ(b.rc, 0);
  EXPECT_EQ(b.out, "");
  EXPECT_EQ(b.count, 198);
  EXPECT_EQ(Head(b.image, 198), golden);
}

TEST(ImageGolden, Orn5301UsesTheOrn5300Layout) {
  RunSettings rs = image_test::Typical5300();
  rs.ChipIdValue = 0x53010001;
  const Built b = Build(rs);
  EXPECT_EQ(b.rc, 0);
  EXPECT_EQ(Head(b.image, b.count), ReadHexFixture("orn5300_no_strings.hex"));
}

TEST(ImageGolden, ManufacturerAbAlone) {
  RunSettings rs = image_test::Typical5300();
  rs.ManufacturerString = "AB";
  const Built b = Build(rs);
  ASSERT_EQ(b.rc, 0);
  EXPECT_EQ(b.count, 198);
  EXPECT_EQ(b.image[0x25], 0x06);
  EXPECT_EQ(b.image[0x26], 0x60);
  EXPECT_EQ(std::vector<uint8_t>(b.image.begin() + 0xC0, b.image.begin() + 0xC6),
            (std::vector<uint8_t>{0x06, 0x03, 0x41, 0x00, 0x42, 0x00}));
  // Both device descriptors now name string 1; nothing else moved.
  std::vector<uint8_t> expected = ReadHexFixture("orn5300_no_strings.hex");
  expected[0x25] = 0x06;
  expected[0x26] = 0x60;
  expected[0x78 + 14] = 1;
  expected[0x9C + 14] = 1;
  EXPECT_EQ(Head(b.image, 192), expected);
}

TEST(ImageSignature, SecondOtpConfigurationBiasesEveryWordOffset) {
  RunSettings rs = image_test::Typical5300();
  rs.ManufacturerString = "AB";
  rs.LTMBELTGiven = 1;
  const Built eeprom = Build(rs);
  rs.OtpSignature = 0xF7;
  const Built otp = Build(rs, kImageModeOtp);
  ASSERT_EQ(otp.rc, 0);
  ASSERT_EQ(otp.count, eeprom.count);
  EXPECT_EQ(otp.image[0], 0xF7);
  EXPECT_EQ(otp.image[0x26], 0xE0);
  EXPECT_EQ(otp.image[0x30], 0xB1);
  EXPECT_EQ(otp.image[0xC0], 0x06);  // the data itself does not move
  // Apart from the signature, exactly the word-offset bytes of used slots
  // differ, each by 128 words.
  for (int i = 1; i < otp.count; ++i) {
    const bool offset_byte = i >= 0x26 && i <= 0x42 && (i % 2 == 0) && eeprom.image[i - 1] != 0;
    const int expected = offset_byte ? (eeprom.image[i] + 0x80) & 0xFF : eeprom.image[i];
    ASSERT_EQ(otp.image[i], expected) << "offset " << i;
  }
}

TEST(ImageSignature, FirstOtpConfigurationDiffersOnlyInTheSignature) {
  for (RunSettings (*typical)() : {image_test::Typical5300, image_test::Typical5350}) {
    RunSettings rs = typical();
    const Built eeprom = Build(rs);
    rs.OtpSignature = 0xF3;
    const Built otp = Build(rs, kImageModeOtp);
    ASSERT_EQ(otp.rc, 0);
    EXPECT_EQ(otp.image[0], 0xF3);
    std::vector<uint8_t> expected = Head(eeprom.image, eeprom.count);
    expected[0] = 0xF3;
    EXPECT_EQ(Head(otp.image, otp.count), expected);
  }
}

TEST(ImageBlocks, AllThreeOptionalBlocksWithoutStrings) {
  RunSettings rs = image_test::Typical5300();
  rs.PMEWUFFEnable = 1;
  rs.FilterMaskPatternBytes = {};
  rs.FilterPatternOffset = 0x1FF;  // only its low byte is kept
  rs.FilterAddressType = 7;        // only two bits are kept
  rs.LTMBELTGiven = 1;
  rs.LTMBELTIdle0 = 0x01020304;
  rs.LTMBELTIdle1 = 0;
  rs.LTMBELTActive0 = 0x11223344;
  rs.LTMBELTActive1 = 0xA0B0C0D0;
  rs.LTMBELTInActive0 = 0;
  rs.LTMBELTInActive1 = 0xFFFFFFFF;
  rs.CommonTestBusIn = 0x00C0FFEE;
  rs.CommonTestBusInGiven = 1;
  const Built b = Build(rs);
  ASSERT_EQ(b.rc, 0) << b.out;
  EXPECT_EQ(b.count, 240);
  EXPECT_EQ(std::vector<uint8_t>(b.image.begin() + 0x3D, b.image.begin() + 0x43),
            (std::vector<uint8_t>{0x14, 0x60, 0x18, 0x6A, 0x04, 0x76}));
  const std::vector<uint8_t> tail(b.image.begin() + 192, b.image.begin() + 240);
  const std::vector<uint8_t> expected = {
      0xDF, 0x7F, 0xFF, 0x83, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // filter
      0x04, 0x03, 0x02, 0x01, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11,              // LTM BELT
      0xD0, 0xC0, 0xB0, 0xA0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,
      0xEE, 0xFF, 0xC0, 0x00};  // common test bus
  EXPECT_EQ(tail, expected);
}

TEST(ImageBlocks, LtmBeltKeysNotGivenAddNoBlock) {
  RunSettings rs = image_test::Typical5300();
  rs.LTMBELTActive1 = 5;  // a value without its given flag
  const Built b = Build(rs);
  EXPECT_EQ(b.count, 192);
  EXPECT_EQ(b.image[0x3F], 0);
}

TEST(ImageSize, StringsBeyondA256ByteEeprom) {
  // 32 words remain below 256 bytes for the ORN5300 strings.
  struct Case {
    std::string manufacturer;
    int rc;
    std::string out;
  } cases[] = {
      {std::string(31, 'M'), 0, ""},
      {std::string(32, 'M'), -1,
       "WARNING: The size of generated binary is greater than EEPROM size(256Bytes)\n"},
  };
  for (const Case& c : cases) {
    RunSettings rs = image_test::Typical5300();
    rs.EepromSize = 256;
    rs.ManufacturerString = c.manufacturer;
    const Built b = Build(rs);
    EXPECT_EQ(b.rc, c.rc) << c.manufacturer.size();
    EXPECT_EQ(b.out, c.out);
    if (c.rc == 0) {
      EXPECT_EQ(b.count, 256);
    }
  }
}

TEST(ImageSize, LaterStringOverflowsAfterEarlierOnesWereLaidOut) {
  RunSettings rs = image_test::Typical5300();
  rs.EepromSize = 256;
  rs.ManufacturerString = std::string(20, 'a');  // 21 words
  rs.ProductString = std::string(12, 'b');       // 13 words: one too many
  const Built b = Build(rs);
  EXPECT_EQ(b.rc, -1);
  EXPECT_EQ(b.out, "WARNING: The size of generated binary is greater than EEPROM size(256Bytes)\n");
  EXPECT_EQ(b.image[0xC0], 42);  // the first string stays in the buffer
}

TEST(ImageSize, OptionalBlockBeyondTheEeprom) {
  RunSettings rs = image_test::Typical5300();
  rs.EepromSize = 256;
  rs.ManufacturerString = std::string(27, 'M');  // strings end at 248
  rs.CommonTestBusInGiven = 1;                   // 252: fits
  rs.PMEWUFFEnable = 1;                          // 268: does not
  const Built b = Build(rs);
  EXPECT_EQ(b.rc, -1);
  EXPECT_EQ(b.out,
            "ERROR: Eeprom content (268 bytes) is larger than the actual size (256 bytes) of the "
            "EEPROM\nERROR: Probably you can reduce the strings sizes and try.\n");

  rs.PMEWUFFEnable = 0;
  const Built fits = Build(rs);
  EXPECT_EQ(fits.rc, 0);
  EXPECT_EQ(fits.count, 252);
  EXPECT_EQ(fits.image[0x41], 4);
  EXPECT_EQ(fits.image[0x42], 124);
}

TEST(ImageStrings, LongestDescribableStringAndOneMore) {
  RunSettings rs = image_test::Typical5300();
  rs.ProductString = std::string(126, 'p');
  const Built ok = Build(rs);
  ASSERT_EQ(ok.rc, 0);
  EXPECT_EQ(ok.image[0x27], 254);
  EXPECT_EQ(ok.count, 192 + 254);

  rs.ProductString = std::string(127, 'p');  // 2n+2 = 256 would wrap to 0
  const Built refused = Build(rs);
  EXPECT_EQ(refused.rc, -1);
  EXPECT_EQ(refused.out,
            "ERROR: ProductString has 127 characters; a USB string descriptor holds at most 126\n");
}

TEST(ImageStrings, OrderAndSlotsOfAllFive) {
  RunSettings rs = image_test::Typical5300();
  rs.ManufacturerString = "M";
  rs.ProductString = "PP";
  rs.CurrentSerialNumber = "SSS";
  rs.ConfigurationString = "C";
  rs.InterfaceString = "I";
  const Built b = Build(rs);
  ASSERT_EQ(b.rc, 0);
  const std::vector<uint8_t> slots(b.image.begin() + 0x25, b.image.begin() + 0x2F);
  EXPECT_EQ(slots, (std::vector<uint8_t>{4, 0x60, 6, 0x62, 8, 0x65, 4, 0x69, 4, 0x6B}));
  EXPECT_EQ(b.count, 0xDA);
  EXPECT_EQ(b.image[0xCA], 8);     // serial number header
  EXPECT_EQ(b.image[0xCC], 'S');
  EXPECT_EQ(b.image[0x8A + 6], 4);  // configuration string index
  EXPECT_EQ(b.image[0x93 + 8], 5);  // interface string index
  EXPECT_EQ(b.image[0x9C + 15], 2);  // product string index
}

TEST(ImageStrings, LayoutStringsTakesTheBiasFromTheSignatureByte) {
  RunSettings rs = image_test::Typical5300();
  rs.ManufacturerString = "x";
  ImageBuffer image{};
  image[0] = 0xF7;
  EXPECT_EQ(LayoutStrings(rs, image, 146), 0);
  EXPECT_EQ(image[0x26], 73 + 128);
  EXPECT_EQ(rs.ImageByteCount, 150);
  image[0] = 0xF3;
  EXPECT_EQ(LayoutStrings(rs, image, 146), 0);
  EXPECT_EQ(image[0x26], 73);
}

// Configuration flags 0 and 1 and the LPM bits of the USB 2.0 extension.
TEST(ImageFlags, ConfigurationFlagRules) {
  struct Case {
    const char* name;
    uint32_t chip;
    std::function<void(RunSettings&)> set;
    std::vector<uint8_t> flags0;  // 0x13..0x16
    std::vector<uint8_t> flags1;  // 0x17..0x1A
    uint32_t usb2_attributes;
  };
  const Case cases[] = {
      {"remote wakeup, bus powered", 0x5300,
       [](RunSettings& rs) { rs.RemoteWakeupEnable = 1; },
       {0x06, 0x80, 0xD1, 0x07}, {0x80, 0x67, 0x01, 0x00}, 0x10E},
      {"all switches off", 0x5300, [](RunSettings&) {},
       {0x04, 0x80, 0xD1, 0x07}, {0x80, 0x67, 0x01, 0x00}, 0x10E},
      {"self powered", 0x5300, [](RunSettings& rs) { rs.SelfPower = 1; },
       {0x05, 0x80, 0xD1, 0x07}, {0x80, 0x67, 0x01, 0x00}, 0x10E},
      {"suspend select keeps two bits", 0x5300,
       [](RunSettings& rs) { rs.SWModeSuspendNSelect = 7; },
       {0x04, 0x80, 0xDD, 0x07}, {0x80, 0x67, 0x01, 0x00}, 0x10E},
      {"polarity", 0x5300, [](RunSettings& rs) { rs.SWModePolarity = 1; },
       {0x04, 0x80, 0xD3, 0x07}, {0x80, 0x67, 0x01, 0x00}, 0x10E},
      {"override is taken as it is", 0x5300,
       [](RunSettings& rs) {
         rs.ConfigFlags0Override = 0x12345670;  // LPM bit clear
         rs.ConfigFlags0OverrideGiven = 1;
         rs.RemoteWakeupEnable = rs.SelfPower = rs.SWModePolarity = 1;
         rs.SWModeSuspendNSelect = 3;
         rs.USB2ExtAttributes = 0xFFFFFFFF;
         rs.USB2ExtAttributesGiven = 1;
       },
       {0x70, 0x56, 0x34, 0x12}, {0x80, 0x67, 0x01, 0x00}, 0xFFFFFFF9},
      {"LPM in the override sets both extension bits", 0x5300,
       [](RunSettings& rs) {
         rs.ConfigFlags0Override = 0x00000004;
         rs.ConfigFlags0OverrideGiven = 1;
         rs.USB2ExtAttributes = 0x100;
         rs.USB2ExtAttributesGiven = 1;
       },
       {0x04, 0x00, 0x00, 0x00}, {0x80, 0x67, 0x01, 0x00}, 0x106},
      {"GenCLK125Enable sets bits 5 and 4", 0x5300,
       [](RunSettings& rs) { rs.GenCLK125Enable = 1; },
       {0x04, 0x80, 0xD1, 0x07}, {0x80, 0x67, 0x31, 0x00}, 0x10E},
      {"GenCLK125Enable 0 clears them over an override", 0x5300,
       [](RunSettings& rs) {
         rs.ConfigFlags1Override = 0xFFFFFFFF;
         rs.ConfigFlags1OverrideGiven = 1;
       },
       {0x04, 0x80, 0xD1, 0x07}, {0xFF, 0xFF, 0xCF, 0xFF}, 0x10E},
      {"ORN5350 defaults", 0x5350, [](RunSettings& rs) { rs.GenCLK125Enable = 1; },
       {0x04, 0x80, 0x11, 0x00}, {0x80, 0x00, 0x01, 0x00}, 0x10E},
      {"ORN5350 suspend select and polarity", 0x5350,
       [](RunSettings& rs) {
         rs.SWModeSuspendNSelect = 1;
         rs.SWModePolarity = 1;
         rs.RemoteWakeupEnable = 1;
         rs.SelfPower = 1;
       },
       {0x07, 0x80, 0x17, 0x00}, {0x80, 0x00, 0x01, 0x00}, 0x10E},
      {"ORN5350 override of flags 1 untouched", 0x5350,
       [](RunSettings& rs) {
         rs.ConfigFlags1Override = 0xFFFFFFFF;
         rs.ConfigFlags1OverrideGiven = 1;
       },
       {0x04, 0x80, 0x11, 0x00}, {0xFF, 0xFF, 0xFF, 0xFF}, 0x10E},
  };
  for (const Case& c : cases) {
    RunSettings rs;
    rs.ChipIdValue = c.chip << 16;
    rs.SSPollInterval = c.chip == 0x5300 ? 1 : 0;
    c.set(rs);
    const Built b = Build(rs);
    ASSERT_EQ(b.rc, 0) << c.name << b.out;
    EXPECT_EQ(std::vector<uint8_t>(b.image.begin() + 0x13, b.image.begin() + 0x17), c.flags0)
        << c.name;
    EXPECT_EQ(std::vector<uint8_t>(b.image.begin() + 0x17, b.image.begin() + 0x1B), c.flags1)
        << c.name;
    const uint32_t attributes = b.image[0x6A] | b.image[0x6B] << 8 | b.image[0x6C] << 16 |
                                static_cast<uint32_t>(b.image[0x6D]) << 24;
    EXPECT_EQ(attributes, c.usb2_attributes) << c.name;
    // Configuration descriptor attributes follow the two named switches.
    const int config = c.chip == 0x5300 ? 0xAE : 0x80;
    EXPECT_EQ(b.image[config + 7],
              0x80 | (rs.RemoteWakeupEnable ? 0x20 : 0) | (rs.SelfPower ? 0x40 : 0))
        << c.name;
  }
}

TEST(ImageFlags, SuperSpeedCapabilityFollowsFlagsAndOverrides) {
  RunSettings rs = image_test::Typical5300();
  rs.ConfigFlags0Override = 0x00000000;  // bit 6 of byte 0x15 clear
  rs.ConfigFlags0OverrideGiven = 1;
  rs.SpeedsSupported = 0xFF;
  rs.SpeedsSupportedGiven = 1;
  rs.FunctionalitySupport = 0x12;
  rs.FunctionalitySupportGiven = 1;
  rs.U1DevExitLatency = 0x3;
  rs.U1DevExitLatencyGiven = 1;
  rs.U2DevExitLatency = 0xF7FF;
  rs.U2DevExitLatencyGiven = 1;
  const Built b = Build(rs);
  ASSERT_EQ(b.rc, 0);
  EXPECT_EQ(std::vector<uint8_t>(b.image.begin() + 0x6E, b.image.begin() + 0x78),
            (std::vector<uint8_t>{0x0A, 0x10, 0x03, 0x00, 0x0F, 0x00, 0x02, 0x03, 0xFF, 0x07}));
}

TEST(ImagePower, MaximumPowerBytesAndLimits) {
  struct Case {
    uint32_t chip;
    int ss, hs;
    int rc;
    int ss_byte, hs_byte;
    std::string out;
  } cases[] = {
      {0x5300, 0, 500, 0, 0, 250, ""},
      {0x5300, 8, 2, 0, 1, 1, ""},
      {0x5300, 896, 0, 0, 112, 0, ""},
      {0x5300, 15, 3, 0, 1, 1, ""},  // divisions truncate
      {0x5300, 7, 100, -1, 0, 0, "ERROR: SSMaxPower cannot be less than 8mA\n"},
      {0x5300, 897, 100, -1, 0, 0, "ERROR: SSMaxPower exceed 896mA\n"},
      {0x5350, 0, 500, 0, -1, 250, ""},
      {0x5350, 8, 100, -1, 0, 0,
       "ERROR: Super speed parameter SSMaxPower specified, probably wrong ini file used for this "
       "device\n"},
  };
  for (const Case& c : cases) {
    RunSettings rs;
    rs.ChipIdValue = c.chip << 16;
    rs.SSPollInterval = c.chip == 0x5300 ? 1 : 0;
    rs.SSMaxPower = c.ss;
    rs.HSMaxPower = c.hs;
    const Built b = Build(rs);
    EXPECT_EQ(b.rc, c.rc) << c.ss << "/" << c.hs;
    EXPECT_EQ(b.out, c.out);
    if (c.rc != 0) continue;
    if (c.chip == 0x5300) {
      EXPECT_EQ(b.image[0x8A + 8], c.ss_byte);
      EXPECT_EQ(b.image[0xAE + 8], c.hs_byte);
    } else {
      EXPECT_EQ(b.image[0x80 + 8], c.hs_byte);
    }
  }
}

TEST(ImagePollInterval, SuperSpeedIntervalPerLayout) {
  struct Case {
    uint32_t chip;
    int interval;
    int rc;
    std::string out;
  } cases[] = {
      {0x5300, 1, 0, ""},
      {0x5300, 16, 0, ""},
      {0x5300, 17, -1, "ERROR: Super speed interrupt polling interval cannot exceed 16.\n"},
      {0x5300, 0, -1, "ERROR: Super speed interrupt polling interval cannot be 0.\n"},
      {0x5350, 0, 0, ""},
      {0x5350, 1, -1,
       "ERROR: Super speed parameter SSPollInterval specified, probably the wrong ini file for "
       "the device\n"},
      {0x5350, 16, -1,
       "ERROR: Super speed parameter SSPollInterval specified, probably the wrong ini file for "
       "the device\n"},
  };
  for (const Case& c : cases) {
    RunSettings rs;
    rs.ChipIdValue = c.chip << 16;
    rs.SSPollInterval = c.interval;
    rs.SSMaxPower = 9999;  // judged later: must not be reached when the interval fails
    if (c.rc == 0) rs.SSMaxPower = 0;
    const Built b = Build(rs);
    EXPECT_EQ(b.rc, c.rc) << c.chip << " " << c.interval;
    EXPECT_EQ(b.out, c.out);
    if (c.rc == 0) {
      EXPECT_EQ(b.image[0x12], c.chip == 0x5300 ? c.interval : 0);
    }
  }
}

TEST(ImageChip, GenerateImageChoosesTheLayoutByChip) {
  struct Case {
    uint32_t chip_id;
    int rc;
    int count;
    std::string out;
  } cases[] = {
      {0x53000000, 0, 192, ""},
      {0x5301FFFF, 0, 192, ""},
      {0x53500001, 0, 146, ""},
      {0x530A0000, -1, 0, "ERROR: Invalid chip\n"},
      {0x00005300, -1, 0, "ERROR: Invalid chip\n"},
  };
  for (const Case& c : cases) {
    RunSettings rs;
    rs.ChipIdValue = c.chip_id;
    rs.SSPollInterval = (c.chip_id >> 16) == 0x5350 ? 0 : 1;
    const Built b = Build(rs);
    EXPECT_EQ(b.rc, c.rc) << std::hex << c.chip_id;
    EXPECT_EQ(b.out, c.out);
    EXPECT_EQ(b.count, c.count);
  }
}

}  // namespace
