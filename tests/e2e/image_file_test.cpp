// orn5300cli -z: image files generated from the example INI files, as a
// factory engineer runs it, without a device.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/tool_runner.h"

namespace {

const std::string kExamples = std::string(ORN_SOURCE_DIR) + "/examples/";

// The INI reader and the command line land separately; until both are in
// the build, -z cannot generate anything and these tests are skipped.
bool ImageGenerationAvailable() {
  static const bool available = [] {
    test::TempDir dir;
    const test::RunResult r =
        test::RunCli({"-i", kExamples + "orn5300.ini", "-z", dir.File("probe.bin"), "-d", "ORN5300"});
    return r.out.find("generated") != std::string::npos;
  }();
  return available;
}

#define REQUIRE_IMAGE_GENERATION()                                             \
  if (!ImageGenerationAvailable())                                             \
  GTEST_SKIP() << "-z does not generate images in this build yet (INI reader " \
                  "or command line missing)"

// The example file with one key's value changed, or the key line removed
// when `value` is empty. The key must be in the file.
std::string WithKey(const std::string& ini, const std::string& key, const std::string& value) {
  const std::regex line("(^|\n)" + key + " = [^\n]*");
  EXPECT_TRUE(std::regex_search(ini, line)) << key;
  return std::regex_replace(ini, line, value.empty() ? "$1" : "$1" + key + " = " + value);
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(ImageFileCli, ExamplesGenerateEveryKindOfImage) {
  REQUIRE_IMAGE_GENERATION();
  struct Case {
    const char* ini;
    std::vector<std::string> options;
    std::string message;  // %s: the target
    int size;
  } cases[] = {
      {"orn5300.ini", {"-d", "ORN5300"}, "Binary eeprom file %s generated, file size: 276 bytes\n", 276},
      {"orn5350.ini", {"-d", "ORN5350"}, "Binary eeprom file %s generated, file size: 230 bytes\n", 230},
      {"orn5350.ini", {"-d", "ORN5350X"}, "Binary eeprom file %s generated, file size: 230 bytes\n", 230},
      {"orn5300.ini", {"-d", "ORN5300", "-O"},
       "Binary OTP file %s generated (first byte: 0xF3), file size: 276 bytes\n", 276},
      {"orn5350.ini", {"-O", "-d", "ORN5350"},
       "Binary OTP file %s generated (first byte: 0xF3), file size: 230 bytes\n", 230},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string target = dir.File("image.bin");
    std::vector<std::string> args = {"-i", kExamples + c.ini, "-z", target};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const test::RunResult r = test::RunCli(args);
    char message[300];
    std::snprintf(message, sizeof message, c.message.c_str(), target.c_str());
    EXPECT_EQ(r.exit_code, 0) << c.ini << r.out;
    EXPECT_EQ(r.out, test::Banner() + message);
    const std::vector<uint8_t> file = Bytes(test::ReadFile(target));
    ASSERT_EQ(static_cast<int>(file.size()), c.size);
    const bool otp = c.options.size() == 3;
    EXPECT_EQ(file[0], otp ? 0xF3 : 0xA5);
    const bool is5350 = std::string(c.ini) == "orn5350.ini";
    const std::vector<uint8_t> mac = {0x00, 0x80, 0x0F, 0x53, uint8_t(is5350 ? 0x50 : 0x00), 0x01};
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 1, file.begin() + 7), mac);
    // The manufacturer string "ORN" opens the string area.
    const int strings = is5350 ? 146 : 192;
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + strings, file.begin() + strings + 8),
              (std::vector<uint8_t>{8, 3, 'O', 0, 'R', 0, 'N', 0}));
  }
}

TEST(ImageFileCli, SecondOtpConfigurationFileForm) {
  REQUIRE_IMAGE_GENERATION();
  test::TempDir dir;
  // Only a three-character serial number: 192 + 8 = 200 image bytes.
  std::string ini = test::ReadFile(kExamples + "orn5300.ini");
  ini = WithKey(ini, "ManufacturerEnable", "0");
  ini = WithKey(ini, "ProductEnable", "0");
  ini = WithKey(ini, "CurrentSerialNumber", "ABC");
  ini = WithKey(ini, "MaximumSerialNumber", "FFF");  // else "ABC" is padded to its length
  ini += "\n[OtpConfig]\nOtpSignature = 0xF7\n";
  test::WriteFile(dir.File("second.ini"), ini);
  const std::string target = dir.File("second.bin");
  const test::RunResult r =
      test::RunCli({"-O", "-i", dir.File("second.ini"), "-z", target, "-d", "ORN5300"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, test::Banner() + "Binary OTP file " + target +
                       " generated (first byte: 0xF7), file size: 456 bytes\n");
  const std::vector<uint8_t> file = Bytes(test::ReadFile(target));
  ASSERT_EQ(file.size(), 456u);
  EXPECT_EQ(file[0], 0xF7);
  for (int i = 1; i <= 256; ++i) ASSERT_EQ(file[i], 0) << i;
  // Image byte k sits at file offset 256 + k; word offsets carry 128 words.
  EXPECT_EQ(file[256 + 1], 0x00);               // MAC address, first byte
  EXPECT_EQ(file[256 + 0x29], 8);               // serial number slot: length
  EXPECT_EQ(file[256 + 0x2A], 0x60 + 0x80);     // and biased word offset
  EXPECT_EQ(file[256 + 0x30], 0x31 + 0x80);     // BOS slot
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 256 + 192, file.end()),
            (std::vector<uint8_t>{8, 3, 'A', 0, 'B', 0, 'C', 0}));
}

TEST(ImageFileCli, FailuresLeaveNoFileAndKeepAnExistingOne) {
  REQUIRE_IMAGE_GENERATION();
  const std::string example = test::ReadFile(kExamples + "orn5300.ini");
  struct Case {
    const char* name;
    std::string ini;
    std::vector<std::string> options;
    int exit_code;
    std::string out;
  } cases[] = {
      {"ORN5300 file for an ORN5350", example, {"-d", "ORN5350"}, 9,
       "ERROR: Super speed parameter SSPollInterval specified, probably the wrong ini file for the "
       "device\nERROR: Generating EEPROM image failed\n"},
      {"SuperSpeed power out of range", WithKey(example, "SSMaxPower", "904"), {"-d", "ORN5300"}, 9,
       "ERROR: SSMaxPower exceed 896mA\nERROR: Generating EEPROM image failed\n"},
      {"SuperSpeed interval missing", WithKey(example, "SSPollInterval", ""), {"-d", "ORN5300"}, 9,
       "ERROR: Super speed interrupt polling interval cannot be 0.\nERROR: Generating EEPROM image "
       "failed\n"},
      {"required section missing", std::regex_replace(example, std::regex("\n\\[Power\\]\n"), "\n"),
       {"-d", "ORN5300"}, 9,
       "ERROR: Missing [Power] section in the ini file\nERROR: Validated ini file failed\n"},
      {"second configuration too large",
       example + "\n[OtpConfig]\nOtpSignature = 0xF7\n", {"-O", "-d", "ORN5300"}, 10,
       "Binary OTP image file size is greater than Max OTP (512 bytes) size\n"},
  };
  for (const Case& c : cases) {
    for (bool existing : {false, true}) {
      test::TempDir dir;
      test::WriteFile(dir.File("in.ini"), c.ini);
      const std::string target = dir.File("out.bin");
      if (existing) test::WriteFile(target, "image of the last good run");
      std::vector<std::string> args = {"-i", dir.File("in.ini"), "-z", target};
      args.insert(args.end(), c.options.begin(), c.options.end());
      const test::RunResult r = test::RunCli(args);
      EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
      EXPECT_EQ(r.out, test::Banner() + c.out) << c.name;
      if (existing) {
        EXPECT_EQ(test::ReadFile(target), "image of the last good run") << c.name;
      } else {
        EXPECT_FALSE(test::FileExists(target)) << c.name;
      }
      EXPECT_FALSE(test::FileExists(target + ".tmp")) << c.name;
    }
  }
}

TEST(ImageFileCli, CommandLineRefusals) {
  REQUIRE_IMAGE_GENERATION();
  test::TempDir dir;
  const std::string target = dir.File("out.bin");
  const std::string ini = kExamples + "orn5300.ini";
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out;
  } cases[] = {
      {{"-i", ini, "-z", target}, 3,
       "ERROR: With -z option -d (device name) option must be specified\n"
       "ERROR: Parameter Error (use -h for help)\n"},
      {{"-i", ini, "-z", target, "-d", "ORN5301"}, 1,
       "ERROR: Please specify ORN5300 or ORN5350 with -d option\n"},
      {{"-i", ini, "-z", dir.File("no/such/folder/out.bin"), "-d", "ORN5300"}, 10,
       "ERROR: Couldn't create file " + dir.File("no/such/folder/out.bin") + "\n"},
  };
  for (const Case& c : cases) {
    const test::RunResult r = test::RunCli(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args.size();
    EXPECT_EQ(r.out, test::Banner() + c.out);
    EXPECT_FALSE(test::FileExists(target));
  }
}

}  // namespace
