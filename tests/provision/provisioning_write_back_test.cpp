// Storing the stepped identity: the INI write-back and the stepping stage.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "provision/provisioning.h"
#include "provisioning_test_images.h"
#include "support/capture.h"
#include "support/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using test::CaptureStdout;

const char kIni[] =
    "; production line 3\r\n"
    "[MacAddress]\r\n"
    "CurrentMacAddress=00-11-22-33-44-55\r\n"
    "MaximumMacAddress=00:11:22:33:FF:FF\r\n"
    "MacAddressIncrement=5\r\n"
    "\r\n"
    "[SerialNumber]\r\n"
    "  ; keep in step with the labels\r\n"
    "CurrentSerialNumber=12   ; padded to four digits by the tool\r\n"
    "MaximumSerialNumber=0100\r\n"
    "SerialNumberIncrement=3\r\n";

// A record as the INI reader and the loader leave it for kIni.
RunSettings RecordFor(const std::string& path, const std::string& content) {
  RunSettings rs;
  rs.IniFileName = path;
  rs.MacWriteBackPosition = static_cast<int32_t>(content.find("00-11"));
  rs.MacWriteBackLength = 17;
  rs.SerialWriteBackPosition = static_cast<int32_t>(content.find("12 "));
  rs.SerialWriteBackLength = 2;
  EXPECT_EQ(RecordIniWriteBackTexts(rs), 0);
  EXPECT_EQ(rs.MacWriteBackText, "00-11-22-33-44-55");
  EXPECT_EQ(rs.SerialWriteBackText, "12");
  rs.CurrentMacAddress = {0x00, 0x11, 0x22, 0x33, 0x44, 0x56};
  rs.MaximumMacAddress = {0x00, 0x11, 0x22, 0x33, 0xFF, 0xFF};
  rs.MacAddressIncrement = 1;
  rs.CurrentSerialNumber = "0012";
  rs.MaximumSerialNumber = "0100";
  rs.SerialNumberIncrement = 1;
  return rs;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

TEST(WriteBackIniTest, MacInPlaceAndLongerSerialWithTheFileRewrittenAroundIt) {
  test::TempDir dir;
  const std::string path = dir.File("line.ini");
  test::WriteFile(path, kIni);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  RunSettings rs = RecordFor(path, kIni);
  rs.CurrentSerialNumber = "0013";

  ASSERT_EQ(WriteBackIni(path, rs), 0);
  const std::string expected =
      Replace(Replace(kIni, "00-11-22-33-44-55", "00:11:22:33:44:56"), "=12 ", "=0013 ");
  EXPECT_EQ(test::ReadFile(path), expected);
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
      << "no temporary file is left behind";
  EXPECT_EQ(rs.SerialWriteBackLength, 4);
  EXPECT_EQ(rs.SerialWriteBackText, "0013");

  // The recorded positions follow the file: a second step writes in place.
  rs.CurrentSerialNumber = "0014";
  ASSERT_EQ(WriteBackIni(path, rs), 0);
  EXPECT_EQ(test::ReadFile(path), Replace(expected, "=0013 ", "=0014 "));
}

TEST(WriteBackIniTest, MacOfAnotherLengthMovesTheSerialPosition) {
  test::TempDir dir;
  const std::string path = dir.File("short.ini");
  const std::string ini = "CurrentMacAddress=0:11:22:33:44:55\nCurrentSerialNumber=0012\n";
  test::WriteFile(path, ini);
  RunSettings rs;
  rs.MacWriteBackPosition = 18;
  rs.MacWriteBackLength = 16;
  rs.MacWriteBackText = "0:11:22:33:44:55";
  rs.SerialWriteBackPosition = static_cast<int32_t>(ini.find("0012"));
  rs.SerialWriteBackLength = 4;
  rs.SerialWriteBackText = "0012";
  rs.CurrentMacAddress = {0x0A, 0x11, 0x22, 0x33, 0x44, 0x56};
  rs.CurrentSerialNumber = "0013";
  ASSERT_EQ(WriteBackIni(path, rs), 0);
  const std::string written = test::ReadFile(path);
  EXPECT_EQ(written, "CurrentMacAddress=0A:11:22:33:44:56\nCurrentSerialNumber=0013\n");
  EXPECT_EQ(written.substr(rs.SerialWriteBackPosition, 4), "0013");
  EXPECT_EQ(rs.MacWriteBackLength, 17);
}

TEST(WriteBackIniTest, FileThatChangedSinceItWasReadIsLeftAlone) {
  test::TempDir dir;
  const std::string path = dir.File("line.ini");
  test::WriteFile(path, kIni);
  struct Case {
    std::string file;
    bool record;
    const char* key;
  };
  const Case cases[] = {
      {Replace(kIni, "00-11-22-33-44-55", "00-11-22-33-44-99"), true, "CurrentMacAddress"},
      {Replace(kIni, "=12 ", "=13 "), true, "CurrentSerialNumber"},
      {"; emptied\r\n", true, "CurrentMacAddress"},
      {kIni, false, "CurrentMacAddress"},  // texts never recorded
  };
  for (const Case& c : cases) {
    test::WriteFile(path, kIni);
    RunSettings rs = RecordFor(path, kIni);
    if (!c.record) rs.MacWriteBackText.reset();
    test::WriteFile(path, c.file);
    int result = 0;
    const std::string out = CaptureStdout([&] { result = WriteBackIni(path, rs); });
    EXPECT_EQ(result, kWriteBackFileChanged);
    EXPECT_EQ(out, "ERROR: The file " + path + " no longer holds the " + c.key +
                       " value that was read from it\n");
    EXPECT_EQ(test::ReadFile(path), c.file);
  }
  RunSettings rs = RecordFor(path, kIni);
  const std::string out =
      CaptureStdout([&] { EXPECT_EQ(WriteBackIni(dir.File("gone.ini"), rs), 3); });
  EXPECT_EQ(out, "ERROR: The file " + dir.File("gone.ini") + " is not found\n");
}

class SteppingStageTest : public testing::Test {
 protected:
  test::TempDir dir;
  const MacAddress mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

  // A record after a verified write of `image` with -N.
  RunSettings Written(const ImageBuffer& image, int count) {
    RunSettings rs;
    rs.CommandCode = kCmdWrite;
    rs.IncrementRequested = 1;
    rs.ChipIdValue = 0x53000000;
    rs.ImageByteCount = count;
    rs.CurrentMacAddress = mac;
    rs.MaximumMacAddress = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    rs.MacAddressIncrement = 1;
    rs.CurrentSerialNumber = provtest::SlotString(image, 0x29);
    rs.SerialNumberIncrement = 1;
    return rs;
  }
};

TEST_F(SteppingStageTest, IniRunStepsPatchesAndWritesBack) {
  const std::string path = dir.File("line.ini");
  test::WriteFile(path, kIni);
  int end = 0;
  ImageBuffer image = provtest::MakeImage(0xA5, mac, "0012", &end);
  RunSettings rs = RecordFor(path, kIni);
  rs.ChipIdValue = 0x53000000;
  rs.IncrementRequested = 1;
  rs.CurrentMacAddress = mac;
  rs.ImageByteCount = end;
  const std::string out = CaptureStdout([&] { EXPECT_EQ(RunSteppingStage(rs, image), 0); });
  EXPECT_EQ(out, "Updated ini file\n");
  EXPECT_EQ(provtest::SlotString(image, 0x29), "0013");
  EXPECT_EQ(image[6], 0x56);
  EXPECT_EQ(test::ReadFile(path),
            Replace(Replace(kIni, "00-11-22-33-44-55", "00:11:22:33:44:56"), "=12 ", "=0013 "));
}

TEST_F(SteppingStageTest, FailuresStoreNothing) {
  const std::string path = dir.File("line.ini");
  int end = 0;
  const ImageBuffer original = provtest::MakeImage(0xA5, mac, "0012", &end);
  struct Case {
    const char* name;
    void (*spoil)(RunSettings&, const std::string&);
    const char* out;
  };
  const Case cases[] = {
      {"past maximum", [](RunSettings& rs, const std::string&) { rs.MaximumSerialNumber = "0012"; },
       "Reach maximum serial number\nERROR: Couldn't increase any Mac or serial number.\n"},
      {"serial slot outside", [](RunSettings& rs, const std::string&) { rs.ImageByteCount = 200; },
       "ERROR: The serial number string descriptor (10 bytes at offset 202) runs past the 200 "
       "bytes of the image\nERROR: Modified EEPROM image failed.\n"},
      {"file edited", [](RunSettings&, const std::string& p) { test::WriteFile(p, "[MacAddress]\n"); },
       nullptr},
  };
  for (const Case& c : cases) {
    test::WriteFile(path, kIni);
    ImageBuffer image = original;
    RunSettings rs = RecordFor(path, kIni);
    rs.ChipIdValue = 0x53000000;
    rs.IncrementRequested = 1;
    rs.ImageByteCount = end;
    c.spoil(rs, path);
    const std::string file_before = test::ReadFile(path);
    const MacAddress mac_before = rs.CurrentMacAddress;
    const std::string out =
        CaptureStdout([&] { EXPECT_EQ(RunSteppingStage(rs, image), 10) << c.name; });
    if (c.out) {
      EXPECT_EQ(out, c.out) << c.name;
    } else {
      EXPECT_NE(out.find("ERROR: Failed to update ini file\n"), std::string::npos) << out;
    }
    EXPECT_EQ(test::ReadFile(path), file_before) << c.name;
    EXPECT_EQ(rs.CurrentMacAddress, mac_before) << c.name;
    EXPECT_EQ(rs.CurrentSerialNumber, "0012") << c.name;
  }
}

TEST_F(SteppingStageTest, BinaryFileIsRewrittenInTheFormTheLoaderReads) {
  struct Case {
    uint8_t signature;
    int otp;
    int eeprom_size;
    size_t file_size;
  };
  for (const Case& c : {Case{0xA5, 0, 256, 256}, Case{0xF3, 1, 512, 512}, Case{0xF7, 1, 512, 512}}) {
    const std::string path = dir.File("image.bin");
    test::WriteFile(path, "old contents");
    int end = 0;
    ImageBuffer image = provtest::MakeImage(c.signature, mac, "0012", &end);
    RunSettings rs = Written(image, end);
    rs.BinaryFileName = path;
    rs.OtpMode = c.otp;
    rs.EepromSize = c.eeprom_size;
    const std::string out = CaptureStdout([&] { EXPECT_EQ(RunSteppingStage(rs, image), 0); });
    EXPECT_EQ(out, "");
    const std::string file = test::ReadFile(path);
    ASSERT_EQ(file.size(), c.file_size);
    const size_t data = c.signature == 0xF7 ? 257 : 1;
    EXPECT_EQ(static_cast<uint8_t>(file[0]), c.signature);
    EXPECT_EQ(file.substr(data, 254), std::string(image.begin() + 1, image.begin() + 255));
    EXPECT_EQ(provtest::SlotString(image, 0x29), "0013");
    if (c.signature == 0xF7) {
      EXPECT_EQ(file.substr(1, 256), std::string(256, '\0'));
    }
  }
  int end = 0;
  ImageBuffer image = provtest::MakeImage(0xA5, mac, "0012", &end);
  RunSettings rs = Written(image, end);
  rs.BinaryFileName = dir.File("no/such/folder/image.bin");
  const std::string out = CaptureStdout([&] { EXPECT_EQ(RunSteppingStage(rs, image), 10); });
  EXPECT_EQ(out, "ERROR: The binary file " + *rs.BinaryFileName +
                     " could not be rewritten (error 2); it still holds the previous image\n"
                     "ERROR: Couldn't create file " + *rs.BinaryFileName + "\n");
}

}  // namespace
