// Patching a MAC address and a serial number into an existing image.
#include <gtest/gtest.h>

#include <random>

#include "provision/provisioning.h"
#include "provisioning_test_images.h"
#include "support/capture.h"

namespace {

using test::CaptureStdout;
using provtest::MakeImage;
using provtest::PutBlock;
using provtest::PutString;
using provtest::SlotString;

const MacAddress kMac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const MacAddress kNewMac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x56};

RunSettings Record(uint32_t chip, int byte_count) {
  RunSettings rs;
  rs.ChipIdValue = chip << 16;
  rs.ImageByteCount = byte_count;
  return rs;
}

TEST(PatchImageIdentityTest, SameLengthSerialKeepsEveryOtherByte) {
  for (uint8_t signature : {uint8_t{0xA5}, uint8_t{0xF3}, uint8_t{0xF7}}) {
    int end = 0;
    const ImageBuffer before = MakeImage(signature, kMac, "0012", &end);
    ImageBuffer image = before;
    RunSettings rs = Record(0x5300, end);
    ASSERT_EQ(PatchImageIdentity(rs, image, kNewMac, std::string("00A\xE9"), 512), 0);
    EXPECT_EQ(SlotString(image, 0x29), "00A\xE9");
    int changed = 0;
    for (size_t i = 0; i < image.size(); ++i) changed += image[i] != before[i];
    EXPECT_EQ(changed, 1 + 3);  // last MAC byte, two digits and the high byte of 0xE9
    EXPECT_EQ(image[end - 1], 0xFF) << "characters from 0x80 are sign-extended";
    EXPECT_EQ(rs.ImageByteCount, end);
  }
}

TEST(PatchImageIdentityTest, NoSerialClearsTheSlot) {
  int end = 0;
  ImageBuffer image = MakeImage(0xA5, kMac, "0012", &end);
  RunSettings rs = Record(0x5300, end);
  ASSERT_EQ(PatchImageIdentity(rs, image, kNewMac, std::nullopt, 512), 0);
  EXPECT_EQ(image[0x29], 0);
  EXPECT_EQ(image[0x2A], 0);
  EXPECT_EQ(image[6], 0x56);
}

TEST(PatchImageIdentityTest, SerialSlotOutsideTheImageIsRefused) {
  struct Case {
    uint8_t signature;
    uint8_t word_offset;
    int byte_count;
    const char* message;
  };
  const Case cases[] = {
      {0xF7, 0x60, 300, "ERROR: The serial number string descriptor points before the start of "
                        "the image (word offset 0x60)\n"},
      {0xA5, 0x70, 200, "ERROR: The serial number string descriptor (10 bytes at offset 224) runs "
                        "past the 200 bytes of the image\n"},
      {0xA5, 0xFF, 512, "ERROR: The serial number string descriptor (10 bytes at offset 510) runs "
                        "past the 512 bytes of the image\n"},
  };
  for (const Case& c : cases) {
    ImageBuffer image = MakeImage(c.signature, kMac, "0012");
    image[0x2A] = c.word_offset;
    const ImageBuffer before = image;
    RunSettings rs = Record(0x5300, c.byte_count);
    int result = 0;
    const std::string out = CaptureStdout(
        [&] { result = PatchImageIdentity(rs, image, kMac, std::string("0013"), 512); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, c.message);
    EXPECT_EQ(image, before);
  }
}

TEST(PatchImageIdentityTest, Orn530aImageCannotChangeTheSerialLength) {
  int end = 0;
  ImageBuffer image = MakeImage(0xA5, kMac, "0012", &end);
  image[6] = 0x56;
  const ImageBuffer before = image;
  RunSettings rs = Record(0x530A, end);
  int result = 0;
  const std::string out = CaptureStdout(
      [&] { result = PatchImageIdentity(rs, image, kNewMac, std::string("00123"), 512); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out, "ERROR: The serial number of an ORN530A image cannot change its length\n");
  EXPECT_EQ(image, before);
}

TEST(ExtractImageStringsTest, TakesPresentStringsAndRefusesStrayOffsets) {
  int end = 0;
  ImageBuffer image = MakeImage(0xF7, kMac, "0012", &end);
  PutString(image, 0x2D, end, "If");
  RunSettings scratch;
  scratch.ProductString = "stale";
  ASSERT_EQ(ExtractImageStrings(image, scratch, end + 6), 0);
  EXPECT_EQ(scratch.ManufacturerString, "ACME");
  EXPECT_FALSE(scratch.ProductString.has_value());
  EXPECT_EQ(scratch.CurrentSerialNumber, "0012");
  EXPECT_EQ(scratch.InterfaceString, "If");
  std::string out =
      CaptureStdout([&] { EXPECT_EQ(ExtractImageStrings(image, scratch, end + 4), -1); });
  EXPECT_NE(out.find("ERROR: The interface string descriptor"), std::string::npos) << out;
  image[0x25] = 1;  // a length that cannot hold the descriptor header
  out = CaptureStdout([&] { EXPECT_EQ(ExtractImageStrings(image, scratch, end + 6), -1); });
  EXPECT_EQ(out, "ERROR: The manufacturer string descriptor has an invalid length 1\n");
}

class RebuildTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!provtest::LayoutStringsAvailable()) GTEST_SKIP() << "string area writer not built in";
  }
};

// An image with the three optional blocks right after the strings.
ImageBuffer ImageWithBlocks(uint8_t signature, int* end, int start = 192) {
  int pos = 0;
  ImageBuffer image = MakeImage(signature, kMac, "0012", &pos, start);
  pos = PutBlock(image, 0x3D, pos, 20, 0x10);
  pos = PutBlock(image, 0x3F, pos, 24, 0x40);
  pos = PutBlock(image, 0x41, pos, 4, 0x80);
  *end = pos;
  return image;
}

void ExpectBlock(const ImageBuffer& image, int slot, int pos, int length, uint8_t fill) {
  const int bias = image[0] == 0xF7 ? 128 : 0;
  EXPECT_EQ(image[slot], length);
  EXPECT_EQ(image[slot + 1], (bias + pos / 2) & 0xFF) << "slot " << slot;
  for (int i = 0; i < length; ++i) EXPECT_EQ(image[pos + i], static_cast<uint8_t>(fill + i));
}

TEST_F(RebuildTest, LongerSerialMovesTheBlocksBehindTheStrings) {
  struct Case {
    uint8_t signature;
    uint32_t chip;
    int start;
  };
  for (const Case& c : {Case{0xA5, 0x5301, 192}, Case{0xF7, 0x5350, 146}}) {
    int end = 0;
    ImageBuffer image = ImageWithBlocks(c.signature, &end, c.start);
    RunSettings rs = Record(c.chip, end);
    ASSERT_EQ(PatchImageIdentity(rs, image, kNewMac, std::string("000012"), 512), 0);
    EXPECT_EQ(SlotString(image, 0x25), "ACME");
    EXPECT_EQ(SlotString(image, 0x29), "000012");
    const int strings_end = c.start + 10 + 14;
    ExpectBlock(image, 0x3D, strings_end, 20, 0x10);
    ExpectBlock(image, 0x3F, strings_end + 20, 24, 0x40);
    ExpectBlock(image, 0x41, strings_end + 44, 4, 0x80);
    EXPECT_EQ(rs.ImageByteCount, strings_end + 48);
  }
}

TEST_F(RebuildTest, ShorterSerialLeavesTheBlocksAndTheByteCount) {
  int end = 0;
  ImageBuffer image = ImageWithBlocks(0xA5, &end);
  RunSettings rs = Record(0x5300, end);
  ASSERT_EQ(PatchImageIdentity(rs, image, kNewMac, std::string("12"), 512), 0);
  EXPECT_EQ(SlotString(image, 0x29), "12");
  ExpectBlock(image, 0x3D, 192 + 10 + 10, 20, 0x10);
  EXPECT_EQ(rs.ImageByteCount, end);
}

TEST_F(RebuildTest, BlocksThatNoLongerFitAreRefused) {
  int end = 0;
  ImageBuffer image = ImageWithBlocks(0xA5, &end);
  const ImageBuffer before = image;
  RunSettings rs = Record(0x5300, end);
  // 192 + 10 + (2 + 2 * 9) = 222 bytes of strings; the LTM BELT block would end at 266.
  int result = 0;
  const std::string out = CaptureStdout(
      [&] { result = PatchImageIdentity(rs, image, kNewMac, std::string("000000012"), 256); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out, "ERROR: Eeprom content (266 bytes) is larger than the actual size (256 bytes) of the "
                 "EEPROM\n");
  for (size_t i = 7; i < image.size(); ++i) ASSERT_EQ(image[i], before[i]) << i;
  EXPECT_EQ(rs.ImageByteCount, end);
}

TEST_F(RebuildTest, SecondOtpConfigurationFitsInItsHalf) {
  int end = 0;
  ImageBuffer image = MakeImage(0xF7, kMac, "0012", &end);
  RunSettings rs = Record(0x5300, end);
  // 192 + 10 + 2 + 2 * 28 = 260 bytes: beyond the 256 bytes of the second half.
  std::string out = CaptureStdout([&] {
    EXPECT_EQ(PatchImageIdentity(rs, image, kNewMac, std::string(28, '1'), 512), 1);
  });
  EXPECT_FALSE(out.empty());
}

// Random images never make the patch touch bytes outside what it reports.
TEST(PatchImageIdentityFuzzTest, RandomImagesStayWithinTheirBytes) {
  const bool rebuild = provtest::LayoutStringsAvailable();
  std::mt19937 rng(530);
  for (int i = 0; i < 3000; ++i) {
    ImageBuffer image{};
    for (auto& b : image) b = static_cast<uint8_t>(rng() % 0xEE);  // 0xEE marks "outside"
    if (i % 2) image[0] = 0xF7;
    const int count = static_cast<int>(rng() % 547);
    for (int k = count; k < kImageBufferSize; ++k) image[k] = 0xEE;
    const ImageBuffer before = image;
    RunSettings rs = Record((i % 3) ? 0x5300 : 0x5350, count);
    std::string serial(rng() % 17, '7');
    if (!rebuild) serial.assign(std::max(0, image[0x29] / 2 - 1) % 17, '7');
    int result = -1;
    CaptureStdout(
        [&] { result = PatchImageIdentity(rs, image, kMac, serial, (i % 4) ? 512 : 256); });
    ASSERT_TRUE(result == 0 || result == 1) << i;
    const int limit = result == 0 ? rs.ImageByteCount : count;
    for (int k = std::max(limit, 7); k < kImageBufferSize; ++k) ASSERT_EQ(image[k], before[k]) << i;
    RunSettings scratch;
    CaptureStdout([&] { ExtractImageStrings(before, scratch, count); });
    for (const OptText* s : {&scratch.ManufacturerString, &scratch.ProductString,
                             &scratch.CurrentSerialNumber, &scratch.ConfigurationString,
                             &scratch.InterfaceString}) {
      if (s->has_value()) {
        ASSERT_EQ((*s)->find('\xEE'), std::string::npos) << "read beyond the image, case " << i;
      }
    }
  }
}

}  // namespace
