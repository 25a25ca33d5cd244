// Loading the identity out of binary images and the identity checks.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "provision/binary_image.h"
#include "provisioning_test_images.h"
#include "support/capture.h"
#include "support/tool_runner.h"

namespace {

using test::CaptureStdout;

const MacAddress kImageMac = {0x00, 0x80, 0x0F, 0x12, 0x34, 0x56};

std::string Bytes(const ImageBuffer& image, int count) {
  return std::string(image.begin(), image.begin() + count);
}

// The file form of an image: a second OTP configuration keeps its bytes
// from file offset 257.
std::string FileOf(const ImageBuffer& image, int count) {
  if (image[0] != 0xF7) return Bytes(image, count);
  std::string file(257, '\0');
  file[0] = static_cast<char>(0xF7);
  return file + std::string(image.begin() + 1, image.begin() + count);
}

class LoadBinaryImageTest : public testing::Test {
 protected:
  test::TempDir dir;
  std::string path = dir.File("img.bin");

  RunSettings WriteRun(int otp = 0) {
    RunSettings rs;
    rs.CommandCode = kCmdWrite;
    rs.BinaryFileName = path;
    rs.OtpMode = otp;
    return rs;
  }
  int Load(RunSettings& rs, std::string* out = nullptr) {
    int result = 0;
    const std::string text = CaptureStdout([&] { result = LoadBinaryImage(rs); });
    if (out) *out = text;
    return result;
  }
};

TEST_F(LoadBinaryImageTest, TakesTheIdentityFromEepromAndOtpFiles) {
  for (uint8_t signature : {uint8_t{0xA5}, uint8_t{0xF3}, uint8_t{0xF7}}) {
    int end = 0;
    const ImageBuffer image = provtest::MakeImage(signature, kImageMac, "SN0042", &end);
    test::WriteFile(path, FileOf(image, end));
    RunSettings rs = WriteRun(signature != 0xA5);
    ASSERT_EQ(Load(rs), 0) << std::hex << int{signature};
    EXPECT_EQ(rs.CurrentMacAddress, kImageMac);
    EXPECT_EQ(rs.MacAddressGiven, 1);
    EXPECT_EQ(rs.MaximumMacAddress, (MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(rs.CurrentSerialNumber, "SN0042");
    EXPECT_EQ(rs.markers.Get("CurrentSerialNumber"), kWellFormed);
  }
}

TEST_F(LoadBinaryImageTest, OverridesWinOverTheImage) {
  test::WriteFile(path, Bytes(provtest::MakeImage(0xA5, kImageMac, "0042"), 300));
  RunSettings rs = WriteRun();
  rs.CurrentMacAddress = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  rs.MacAddressGiven = 1;
  rs.markers.Set("CurrentMacAddress", kWellFormed);
  rs.CurrentSerialNumber = "7";
  rs.MaximumMacAddress = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01};  // replaced by the loader
  ASSERT_EQ(Load(rs), 0);
  EXPECT_EQ(rs.CurrentMacAddress, (MacAddress{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(rs.CurrentSerialNumber, "7");
}

TEST_F(LoadBinaryImageTest, RefusedImages) {
  struct Case {
    const char* name;
    int otp;
    std::string file;
    std::string out;
  };
  ImageBuffer group = provtest::MakeImage(0xA5, {0x01, 0, 0, 0, 0, 0}, "1");
  ImageBuffer zero = provtest::MakeImage(0xA5, {0, 0, 0, 0, 0, 0}, "1");
  ImageBuffer long_serial = provtest::MakeImage(0xA5, kImageMac, std::string(17, '1'));
  int end = 0;
  ImageBuffer before = provtest::MakeImage(0xF7, kImageMac, "0042", &end);
  before[0x2A] = 0x20;  // word 0x20 minus the 128-word bias
  ImageBuffer past = provtest::MakeImage(0xA5, kImageMac, "0042", &end);
  ImageBuffer odd = provtest::MakeImage(0xA5, kImageMac, "0042");
  odd[0x29] = 1;
  const Case cases[] = {
      {"short file", 0, std::string(150, 'x'), "ERROR: No enough 150 bytes in file " + path + "\n"},
      {"group mac", 0, Bytes(group, 300), "ERROR: Not valid current mac address\n"},
      {"zero mac", 0, Bytes(zero, 300), "ERROR: Not valid current mac address\n"},
      {"17 characters", 0, Bytes(long_serial, 300),
       "ERROR: Current serial number size is greater than 16\n"},
      {"serial before the image", 1, FileOf(before, 256),
       "ERROR: The serial number string descriptor points before the start of the image (word "
       "offset 0x20)\n"},
      {"serial past the bytes read", 0, Bytes(past, end - 1),
       "ERROR: The serial number string descriptor (10 bytes at offset 202) runs past the 211 "
       "bytes of the image\n"},
      {"odd slot length", 0, Bytes(odd, 300),
       "ERROR: The serial number string descriptor has an invalid length 1\n"},
      {"otp signature", 1, Bytes(past, 300),
       "ERROR: Invalid signature a5 in the binary file, cannot use the binary file for OTP\n"},
      {"otp first half too large", 1, "\xF3" + std::string(512, '\0'),
       "ERROR: Binary image is too large to fit in the OTP, max size: 512 \n"},
      {"otp second half too large", 1, "\xF7" + std::string(256 + 256, '\0'),
       "ERROR: Binary image is too large to fit in the OTP, max size: 512 \n"},
      {"otp empty file", 1, "",
       "ERROR: The signature byte (first byte) could not be read from binary file\n"},
  };
  for (const Case& c : cases) {
    test::WriteFile(path, c.file);
    RunSettings rs = WriteRun(c.otp);
    std::string out;
    EXPECT_EQ(Load(rs, &out), -1) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
  }
  RunSettings rs = WriteRun();
  rs.BinaryFileName = dir.File("missing.bin");
  std::string out;
  EXPECT_EQ(Load(rs, &out), -1);
  EXPECT_EQ(out, "ERROR: No file " + dir.File("missing.bin") + " is found\n");
}

TEST_F(LoadBinaryImageTest, BoundaryFilesAreAccepted) {
  // 192 bytes without a serial number; a second OTP half of exactly 256 bytes.
  ImageBuffer no_serial = provtest::MakeImage(0xA5, kImageMac, "0042");
  no_serial[0x29] = no_serial[0x2A] = 0;
  test::WriteFile(path, Bytes(no_serial, 192));
  RunSettings rs = WriteRun();
  ASSERT_EQ(Load(rs), 0);
  EXPECT_FALSE(rs.CurrentSerialNumber.has_value());

  const ImageBuffer second = provtest::MakeImage(0xF7, kImageMac, "0042");
  test::WriteFile(path, FileOf(second, 256));
  rs = WriteRun(1);
  ASSERT_EQ(Load(rs), 0);
  EXPECT_EQ(rs.CurrentSerialNumber, "0042");
}

TEST_F(LoadBinaryImageTest, ReadNeverOpensTheFile) {
  test::WriteFile(path, std::string(10, 'x'));
  RunSettings rs = WriteRun();
  rs.CommandCode = kCmdRead;
  std::string out;
  EXPECT_EQ(Load(rs, &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(rs.MacAddressGiven, 0);
}

// A record as an INI file with a valid identity leaves it.
std::unique_ptr<RunSettings> IniRun() {
  auto rs = std::make_unique<RunSettings>();
  rs->IniFileName = "unused.ini";
  rs->CurrentMacAddress = {0x00, 0x11, 0x22, 0x33, 0x44, 0x10};
  rs->MaximumMacAddress = {0x00, 0x11, 0x22, 0x33, 0x44, 0x1F};
  rs->markers.Set("CurrentMacAddress", kWellFormed);
  rs->CurrentSerialNumber = "12";
  rs->MaximumSerialNumber = "0100";
  return rs;
}

// The identity checks of an INI run, in their order.
TEST(IdentityChecksTest, IniValues) {
  struct Case {
    const char* name;
    void (*set)(RunSettings&);
    int result;
    const char* out;
  };
  const Case cases[] = {
      {"valid", [](RunSettings&) {}, 0, ""},
      {"malformed mac", [](RunSettings& rs) { rs.markers.Set("CurrentMacAddress", kMalformed); }, -1,
       "ERROR: Invalid current mac address\n"},
      {"missing mac", [](RunSettings& rs) { rs.markers.Set("CurrentMacAddress", kNotSeen); }, -1,
       "ERROR: Current mac address is missing\n"},
      {"above maximum", [](RunSettings& rs) { rs.CurrentMacAddress[5] = 0x20; }, -1,
       "ERROR: Current MAC address is greater than maximum MAC address\n"},
      {"bad mac increment", [](RunSettings& rs) { rs.markers.Set("MacAddressIncrement", kMalformed); },
       -1, "ERROR:  Invalid mac address increment or out of range\n"},
      {"serial above maximum", [](RunSettings& rs) { rs.CurrentSerialNumber = "101"; }, -1,
       "ERROR: Current serial number is greater than maximum serial number\n"},
      {"lower case compares as upper case", [](RunSettings& rs) { rs.CurrentSerialNumber = "10a"; }, -1,
       "ERROR: Current serial number is greater than maximum serial number\n"},
      {"lower case below the maximum", [](RunSettings& rs) { rs.CurrentSerialNumber = "00ab"; }, 0, ""},
      {"bad serial increment",
       [](RunSettings& rs) { rs.markers.Set("SerialNumberIncrement", kMalformed); }, -1,
       "ERROR:  Invalid serial number increment or out of range\n"},
      {"malformed serial", [](RunSettings& rs) { rs.markers.Set("CurrentSerialNumber", kMalformed); },
       -1, "ERROR:  Invalid current serial number\n"},
      {"serial -N cannot step", [](RunSettings& rs) { rs.CurrentSerialNumber = "SNXY"; }, -1,
       "ERROR: Serial number SNXY cannot be increased: its last two characters must be "
       "hexadecimal digits (0-9, A-F)\n"},
      {"prefix is fine", [](RunSettings& rs) { rs.CurrentSerialNumber = "SN09"; }, 0, ""},
      {"not stepped", [](RunSettings& rs) {
         rs.CurrentSerialNumber = "SNXY";
         rs.SerialNumberIncrement = 0;
       }, 0, ""},
      {"no file", [](RunSettings& rs) { rs.IniFileName.reset(); }, -1,
       "ERROR: Either ini file(-i) or binary file(-b) should be provided\n"},
  };
  for (const Case& c : cases) {
    auto record = IniRun();
    RunSettings& rs = *record;
    rs.CommandCode = kCmdWrite;
    rs.IncrementRequested = 1;
    rs.SerialNumberIncrement = 1;
    c.set(rs);
    int result = 0;
    const std::string out = CaptureStdout([&] { result = LoadBinaryImage(rs); });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
    if (c.result == 0 && rs.CurrentSerialNumber == "0012") {
      EXPECT_EQ(rs.MaximumSerialNumber, "0100");
    }
  }
}

TEST(IdentityChecksTest, LeftPaddingOfEitherSide) {
  auto record = IniRun();
  RunSettings& rs = *record;
  ASSERT_EQ(LoadBinaryImage(rs), 0);
  EXPECT_EQ(rs.CurrentSerialNumber, "0012");
  rs.CurrentSerialNumber = "0012";
  rs.MaximumSerialNumber = "99";
  ASSERT_EQ(LoadBinaryImage(rs), 0);
  EXPECT_EQ(rs.MaximumSerialNumber, "0099");
}

// Random and truncated files: the loader refuses or accepts, and a serial
// number it accepts comes only from bytes the file really has (the suite
// also runs under AddressSanitizer).
TEST_F(LoadBinaryImageTest, RandomAndTruncatedFilesAreHandled) {
  std::mt19937 rng(192);
  int accepted = 0;
  for (int i = 0; i < 1000; ++i) {
    const int size = static_cast<int>(rng() % 700);
    std::string file(static_cast<size_t>(size), '\0');
    for (char& ch : file) ch = static_cast<char>(rng());
    const int otp = static_cast<int>(rng() % 2);
    const bool second = size > 0 && otp && rng() % 2;
    if (size > 0 && otp) file[0] = second ? '\xF7' : '\xF3';
    if (size > 0x2A && rng() % 2) file[0x29] = static_cast<char>(2 + 2 * (rng() % 17));
    // A new file each time: rewriting one file makes the file system flush it.
    path = dir.File("random" + std::to_string(i) + ".bin");
    test::WriteFile(path, file);
    RunSettings rs = WriteRun(otp);
    const int result = Load(rs);
    ASSERT_TRUE(result == 0 || result == -1) << i;
    if (result != 0 || !rs.CurrentSerialNumber) continue;
    ++accepted;
    // File index of image byte k.
    auto at = [&](int k) { return second && k > 0 ? 256 + k : k; };
    const int bias = second ? 128 : 0;
    const int pos = 2 * (static_cast<uint8_t>(file[at(0x2A)]) - bias) + 2;
    const std::string& serial = *rs.CurrentSerialNumber;
    ASSERT_LE(serial.size(), 16u);
    for (size_t k = 0; k < serial.size(); ++k) {
      const int index = at(pos + 2 * static_cast<int>(k));
      ASSERT_LT(index, size) << "case " << i;
      ASSERT_EQ(serial[k], file[static_cast<size_t>(index)]) << "case " << i;
    }
  }
  EXPECT_GT(accepted, 10);
}

}  // namespace
