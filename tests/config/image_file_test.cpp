// Image files of -z: their file forms, size limits, and that a failure
// never leaves a partial or empty target behind.
#include "eeprom/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/ini_schema.h"
#include "image_test_util.h"
#include "support/capture.h"
#include "support/tool_runner.h"

namespace {

using test::CaptureStdout;

ImageBuffer Pattern(uint8_t signature) {
  ImageBuffer image{};
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 1);
  image[0] = signature;
  return image;
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

TEST(ImageFileForm, WritesEachFormWithItsMessage) {
  struct Case {
    uint8_t signature;
    bool otp;
    int count;
    int file_size;
    const char* message;
  } cases[] = {
      {0xF7, true, 200, 456, "Binary OTP file %s generated (first byte: 0xF7), file size: 456 bytes\n"},
      {0xF7, true, 256, 512, "Binary OTP file %s generated (first byte: 0xF7), file size: 512 bytes\n"},
      {0xF3, true, 240, 240, "Binary OTP file %s generated (first byte: 0xF3), file size: 240 bytes\n"},
      {0xF3, true, 512, 512, "Binary OTP file %s generated (first byte: 0xF3), file size: 512 bytes\n"},
      {0xA5, false, 192, 192, "Binary eeprom file %s generated, file size: 192 bytes\n"},
      {0xA5, false, 512, 512, "Binary eeprom file %s generated, file size: 512 bytes\n"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string path = dir.File("out.bin");
    const ImageBuffer image = Pattern(c.signature);
    int rc = -1;
    const std::string out =
        CaptureStdout([&] { rc = WriteImageFile(path, image, c.count, c.otp); });
    EXPECT_EQ(rc, 0);
    char expected[200];
    std::snprintf(expected, sizeof expected, c.message, path.c_str());
    EXPECT_EQ(out, expected);
    const std::string file = test::ReadFile(path);
    ASSERT_EQ(static_cast<int>(file.size()), c.file_size);
    EXPECT_EQ(static_cast<uint8_t>(file[0]), c.signature);
    const int gap = c.signature == 0xF7 ? 256 : 0;
    for (int i = 1; i <= gap; ++i) ASSERT_EQ(file[i], 0) << i;
    for (int i = 1; i < c.count; ++i) ASSERT_EQ(static_cast<uint8_t>(file[gap + i]), image[i]) << i;
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.bin"});
  }
}

TEST(ImageFileForm, OversizedImagesLeaveTheTargetAsItWas) {
  struct Case {
    uint8_t signature;
    bool otp;
    int count;
    const char* message;
  } cases[] = {
      {0xF7, true, 257, "Binary OTP image file size is greater than Max OTP (512 bytes) size\n"},
      {0xF3, true, 513, "Binary OTP image file size is greater than Max OTP (512 bytes) size\n"},
      {0xA5, false, 513,
       "Binary EEPROM image file generated is greater than Max EEPROM (512 bytes) size\n"},
  };
  for (const Case& c : cases) {
    for (bool existing : {false, true}) {
      test::TempDir dir;
      const std::string path = dir.File("out.bin");
      if (existing) test::WriteFile(path, "previous image");
      int rc = 0;
      const std::string out =
          CaptureStdout([&] { rc = WriteImageFile(path, Pattern(c.signature), c.count, c.otp); });
      EXPECT_EQ(rc, 10);
      EXPECT_EQ(out, c.message);
      if (existing) {
        EXPECT_EQ(test::ReadFile(path), "previous image");
        EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.bin"});
      } else {
        EXPECT_TRUE(Listing(dir.path()).empty());
      }
    }
  }
}

TEST(ImageFileForm, ReplacesAnExistingFileAndReportsUncreatableOnes) {
  test::TempDir dir;
  const std::string path = dir.File("out.bin");
  test::WriteFile(path, std::string(600, 'x'));
  CaptureStdout([&] { EXPECT_EQ(WriteImageFile(path, Pattern(0xA5), 192, false), 0); });
  EXPECT_EQ(test::ReadFile(path).size(), 192u);

  const std::string nowhere = dir.File("missing/out.bin");
  int rc = 0;
  const std::string out =
      CaptureStdout([&] { rc = WriteImageFile(nowhere, Pattern(0xA5), 192, false); });
  EXPECT_EQ(rc, 10);
  EXPECT_EQ(out, "ERROR: Couldn't create file " + nowhere + "\n");

  // A directory in the way of the target: the image is not left beside it.
  const std::string blocked = dir.File("blocked");
  std::filesystem::create_directory(blocked);
  test::WriteFile(blocked + "/keep", "");
  const std::string out2 =
      CaptureStdout([&] { rc = WriteImageFile(blocked, Pattern(0xA5), 192, false); });
  EXPECT_EQ(rc, 10);
  EXPECT_EQ(out2, "ERROR: Couldn't create file " + blocked + "\n");
  EXPECT_FALSE(test::FileExists(blocked + ".tmp"));
}

TEST(ImageFileForm, WriteProtectedTargetIsNotReplaced) {
  test::TempDir dir;
  const std::string path = dir.File("protected.bin");
  test::WriteFile(path, "released image");
  namespace fs = std::filesystem;
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  if (std::FILE* probe = std::fopen(path.c_str(), "ab")) {
    std::fclose(probe);
    GTEST_SKIP() << "write protection does not apply to this user";
  }
  int rc = 0;
  const std::string out =
      CaptureStdout([&] { rc = WriteImageFile(path, Pattern(0xA5), 192, false); });
  EXPECT_EQ(rc, 10);
  EXPECT_EQ(out, "ERROR: Couldn't create file " + path + "\n");
  EXPECT_EQ(test::ReadFile(path), "released image");
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"protected.bin"});
}

// The whole -z flow needs the required-sections check of the INI schema.
bool IniSchemaAvailable() {
  RunSettings rs;
  for (const char* section :
       {"[MacAddress]", "[SerialNumber]", "[String]", "[ID]", "[Power]", "[GPIOPME0]",
        "[GPIOPME1]", "[LEDConfig0]", "[LEDConfig1]", "[LEDConfig2]", "[LEDBehaviorConfig]",
        "[GPIOConfig]", "[ConfigFlags0]", "[PMEWUFConfiguration]", "[InterruptPollInterval]"}) {
    rs.markers.Complete(section);
  }
  int rc = -1;
  CaptureStdout([&] { rc = CheckIniSections(rs); });
  return rc == 0;
}

RunSettings Validated(RunSettings rs) {
  for (const char* section :
       {"[MacAddress]", "[SerialNumber]", "[String]", "[ID]", "[Power]", "[GPIOPME0]",
        "[GPIOPME1]", "[LEDConfig0]", "[LEDConfig1]", "[LEDConfig2]", "[LEDBehaviorConfig]",
        "[GPIOConfig]", "[ConfigFlags0]", "[PMEWUFConfiguration]", "[InterruptPollInterval]"}) {
    rs.markers.Complete(section);
  }
  return rs;
}

TEST(ImageFileFlow, GeneratesEachKindOrFailsWithItsExitCode) {
  if (!IniSchemaAvailable()) GTEST_SKIP() << "the required-sections check is not in this build";
  test::TempDir dir;
  const std::string path = dir.File("image.bin");
  struct Case {
    const char* name;
    uint32_t chip;
    int otp_mode;
    int otp_signature;
    int rc;
    std::string out;  // %s: the path
    int file_size;    // -1: no file
  } cases[] = {
      {"eeprom", 0x5300, 0, 0, 0, "Binary eeprom file %s generated, file size: 192 bytes\n", 192},
      {"otp signature defaults to 0xF3", 0x5350, 1, 0, 0,
       "Binary OTP file %s generated (first byte: 0xF3), file size: 146 bytes\n", 146},
      {"second configuration", 0x5300, 1, 0xF7, 0,
       "Binary OTP file %s generated (first byte: 0xF7), file size: 448 bytes\n", 448},
      {"invalid chip", 0x530A, 0, 0, 9, "ERROR: Invalid chip\nERROR: Generating EEPROM image failed\n",
       -1},
      {"invalid chip, otp", 0x530A, 1, 0, 9, "ERROR: Invalid chip\nERROR: Generating OTP image failed\n",
       -1},
      {"invalidation cannot be written to a file", 0x5300, 1, 0xDEAD, 9,
       "ERROR: Invalid OtpSignature, should be '0xF3' or '0xF7'\nERROR: Generating OTP image "
       "failed\n",
       -1},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(path);
    RunSettings rs;
    rs.ChipIdValue = c.chip << 16;
    rs.SSPollInterval = c.chip == 0x5350 ? 0 : 4;
    rs.OtpMode = c.otp_mode;
    rs.OtpSignature = c.otp_signature;
    rs.TargetFileName = path;
    rs = Validated(rs);
    ImageBuffer image;
    image.fill(0xEE);  // the flow clears it itself
    int rc = -1;
    const std::string out = CaptureStdout([&] { rc = GenerateImageFile(rs, image); });
    EXPECT_EQ(rc, c.rc) << c.name;
    char expected[300];
    std::snprintf(expected, sizeof expected, c.out.c_str(), path.c_str());
    EXPECT_EQ(out, expected) << c.name;
    if (c.file_size < 0) {
      EXPECT_FALSE(test::FileExists(path)) << c.name;
    } else {
      EXPECT_EQ(static_cast<int>(test::ReadFile(path).size()), c.file_size) << c.name;
    }
  }
}

TEST(ImageFileFlow, MissingSectionsAreRefusedBeforeAnythingIsWritten) {
  if (!IniSchemaAvailable()) GTEST_SKIP() << "the required-sections check is not in this build";
  test::TempDir dir;
  RunSettings rs = Validated(RunSettings{});
  rs.markers.completion.erase("[Power]");
  rs.ChipIdValue = 0x53000000;
  rs.SSPollInterval = 1;
  rs.TargetFileName = dir.File("image.bin");
  ImageBuffer image{};
  int rc = -1;
  const std::string out = CaptureStdout([&] { rc = GenerateImageFile(rs, image); });
  EXPECT_EQ(rc, 9);
  EXPECT_EQ(out,
            "ERROR: Missing [Power] section in the ini file\nERROR: Validated ini file failed\n");
  EXPECT_TRUE(Listing(dir.path()).empty());
}

}  // namespace
