// The OTP flows against a fake driver: the space check and its bytes-used
// rule, the signature rules, the confirmation, programming, verification
// and invalidation.
#include "eeprom/otp_flows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/capture.h"
#include "support/fake_device.h"
#include "support/tool_runner.h"

namespace {

using fake::Device;
using test::CaptureStdout;

// A first configuration in the OTP whose string area ends at `end` bytes
// (the fixed descriptors alone end at 192).
void StoreFirstConfig(std::vector<uint8_t>& otp, int end) {
  otp[0] = kOtpFirstConfig;
  const uint8_t slots[][3] = {{0x2F, 22, 0x31}, {0x31, 18, 0x3C}, {0x33, 18, 0x45}, {0x35, 18, 0x4E},
                              {0x37, 18, 0x57}, {0x39, 18, 0x4E}, {0x3B, 18, 0x57}};
  for (const auto& s : slots) {
    otp[s[0]] = s[1];
    otp[s[0] + 1] = s[2];
  }
  if (end > 192) {
    otp[0x25] = static_cast<uint8_t>(end - 192);
    otp[0x26] = 0x60;
  }
  for (int i = 1; i < end; ++i) {
    if (i >= 0xC0) otp[i] = static_cast<uint8_t>(i);
  }
}

TEST(OtpBytesUsedTest, TheSlotPlacedLastEndsTheConfiguration) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> bytes;  // offset, value
    int used;
  } cases[] = {
      {"no slots", {}, 0},
      {"the pair at 0x46 opens the scan", {{0x46, 4}, {0x47, 0x10}}, 36},
      {"highest offset wins, not the longest item", {{0x25, 100}, {0x26, 0x60}, {0x27, 10}, {0x28, 0x70}}, 234},
      {"equal offsets keep the slot examined first",
       {{0x3F, 24}, {0x40, 0x6A}, {0x2D, 50}, {0x2E, 0x6A}}, 24 + 2 * 0x6A},
      {"a later slot with a higher offset replaces", {{0x3F, 24}, {0x40, 0x6A}, {0x2F, 22}, {0x30, 0x80}}, 22 + 256},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> otp(512, 0);
    for (auto [offset, value] : c.bytes) otp[offset] = static_cast<uint8_t>(value);
    EXPECT_EQ(OtpBytesUsed(otp.data()), c.used) << c.name;
  }
  std::vector<uint8_t> otp(512, 0);
  StoreFirstConfig(otp, 192);
  EXPECT_EQ(OtpBytesUsed(otp.data()), 192);
  StoreFirstConfig(otp, 240);
  EXPECT_EQ(OtpBytesUsed(otp.data()), 240);
}

TEST(CheckOtpSpaceTest, SignatureAndRequestDecideTheState) {
  struct Case {
    const char* name;
    int signature;   // -1: a first configuration ending at `end`
    int end;
    bool invalidate;
    int result;
    int state;
    std::string out;
  } cases[] = {
      {"empty", 0x00, 0, false, 0, 0, ""},
      {"empty, invalidation", 0x00, 0, true, 12, 0,
       "ERROR: Signature ( 0 )found in OTP is 0, Hence device is not using OTP. No need to write 0xFF\n"},
      {"first half used", -1, 240, false, 0, 256, ""},
      {"first half exactly full", -1, 256, false, 0, 256, ""},
      {"first configuration too long", -1, 300, false, -1, 0, "OTP already using 300 bytes. Cannot write OTP\n"},
      {"first configuration, invalidation", -1, 300, true, 0, 0, ""},
      {"full", 0xF7, 0, false, 13, 0, "ERROR: Device OTP full (Signature 0xF7), cannot write OTP\n"},
      {"full, invalidation", 0xF7, 0, true, 0, 0, ""},
      {"invalidated", 0xFF, 0, false, 12, 0, "ERROR: Invalid Signature ( ff )found in OTP, cannot write OTP\n"},
      {"unknown, invalidation", 0x42, 0, true, 0, 0, ""},
  };
  for (const auto& c : cases) {
    Device dev;
    if (c.signature < 0) {
      StoreFirstConfig(dev.otp, c.end);
    } else {
      dev.otp[0] = static_cast<uint8_t>(c.signature);
    }
    RequestChannel ch;
    ch.device = &dev;
    RunSettings rs;
    rs.OtpState = 99;
    rs.OtpSignature = c.invalidate ? kOtpSignatureInvalidate : 0;
    int result = 0;
    const std::string out = CaptureStdout([&] { result = CheckOtpSpace(ch, rs); });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(rs.OtpState, c.state) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
    EXPECT_EQ(dev.Count(OTP_WRITE_BLOCK), 0) << c.name;
  }

  Device dev;
  dev.FailNth(OTP_READ_BLOCK, 1, kStatusAccessFailed);
  RequestChannel ch;
  ch.device = &dev;
  RunSettings rs;
  int result = 0;
  const std::string out = CaptureStdout([&] { result = CheckOtpSpace(ch, rs); });
  EXPECT_EQ(result, 11);
  EXPECT_EQ(out, "ERROR: OTP_READ_BLOCK failed! status:Access failed\nERROR: Failed to read OTP\n");
}

TEST(OtpSignatureRulesTest, IniSignatureIsSettledAgainstTheOtpState) {
  struct Case {
    int requested, state, result, settled;
    const char* out;
  } cases[] = {
      {0, 0, 0, 0xF3, ""},
      {0, 256, 0, 0xF7, ""},
      {0xF3, 0, 0, 0xF3, ""},
      {0xF3, 256, -1, 0xF3, "ERROR: OTP Signature provided through ini file is 0xF3 but OTP is not empty\n"},
      {0xF7, 256, 0, 0xF7, ""},
      {0xF7, 0, 0, 0xF7,
       "ERROR: OTP empty, The Signature provided through ini file is 0xF7 hence skipping first 256 bytes\n"},
  };
  for (const auto& c : cases) {
    RunSettings rs;
    rs.OtpSignature = c.requested;
    rs.OtpState = c.state;
    int result = 0;
    const std::string out = CaptureStdout([&] { result = ResolveOtpSignature(rs); });
    EXPECT_EQ(result, c.result) << std::hex << c.requested << "/" << c.state;
    EXPECT_EQ(rs.OtpSignature, c.settled);
    EXPECT_EQ(out, c.out);
  }
}

TEST(OtpSignatureRulesTest, BinaryImageSignatureMustSuitTheOtpState) {
  struct Case {
    uint8_t first;
    int state, result;
    const char* out;
  } cases[] = {
      {0xF3, 0, 0, ""},
      {0xF7, 0, -1, "ERROR: OTP is empty and the Signature byte should be 0xF3\n"},
      {0xF7, 256, 0, ""},
      {0xF3, 256, 12, "ERROR: Upper 256 bytes of OTP is empty and the Signature byte should be 0xF7\n"},
  };
  for (const auto& c : cases) {
    RunSettings rs;
    rs.OtpState = c.state;
    ImageBuffer image{};
    image[0] = c.first;
    int result = 0;
    const std::string out = CaptureStdout([&] { result = CheckOtpImageSignature(rs, image); });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(out, c.out);
  }
}

TEST(VerifyOtpTest, ComparesSignatureAndDataAtTheirOtpOffsets) {
  struct Case {
    const char* name;
    uint8_t signature;
    int count;
    uint32_t fail_code;
    int fail_nth;
    int otp_tamper;  // OTP offset whose byte differs from the image, or -1
    int result;
    std::string out;
  } cases[] = {
      {"first configuration", 0xF3, 200, 0, 0, -1, 0, ""},
      {"second configuration", 0xF7, 256, 0, 0, -1, 0, ""},
      {"data differs", 0xF3, 200, 0, 0, 10, 1,
       "ERROR: Failed to verify OTP contents: offset 10, memory: b  device: f4\n"},
      {"second configuration data differs", 0xF7, 100, 0, 0, 257 + 4, 1,
       "ERROR: Failed to verify OTP contents: offset 5, memory: 6  device: f9\n"},
      {"difference beyond the count", 0xF3, 200, 0, 0, 250, 0, ""},
      {"signature differs", 0xF3, 200, 0, 0, 0, 1, "ERROR: Failed to verify signature\n"},
      {"signature unreadable", 0xF3, 200, OTP_READ_BLOCK, 1, -1, 11,
       "ERROR: OTP_READ_BLOCK failed! status:Access failed\nERROR: VerifyOTP: Failed to read offset 0\n"},
      {"data unreadable", 0xF3, 200, OTP_READ_BLOCK, 2, -1, 11,
       "ERROR: OTP_READ_BLOCK failed! status:Access failed\nERROR: VerifyOTP: Failed to read OTP\n"},
      {"count above 512", 0xF3, 513, 0, 0, -1, 1, "Invalid eeprom size\n"},
      // A second configuration longer than its half would be read past the
      // OTP's end; an empty image would ask for a negative length.
      {"second configuration past the end", 0xF7, 257, 0, 0, -1, 1, "Invalid eeprom size\n"},
      {"no bytes", 0xF3, 0, 0, 0, -1, 1, "Invalid eeprom size\n"},
  };
  for (const auto& c : cases) {
    ImageBuffer image{};
    image[0] = c.signature;
    for (int i = 1; i < kImageBufferSize; ++i) image[i] = static_cast<uint8_t>(i + 1);
    Device dev;
    dev.otp[0] = c.signature;
    const int start = c.signature == 0xF7 ? 257 : 1;
    for (int i = 1; i < c.count && start + i - 1 < 512; ++i) dev.otp[start + i - 1] = image[i];
    if (c.otp_tamper >= 0) dev.otp[c.otp_tamper] ^= 0xFF;
    if (c.fail_code != 0) dev.FailNth(c.fail_code, c.fail_nth, kStatusAccessFailed);
    RequestChannel ch;
    ch.device = &dev;
    int result = -99;
    const std::string out = CaptureStdout([&] { result = VerifyOTP(ch, image.data(), c.count); });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
    if (c.out == "Invalid eeprom size\n") {
      EXPECT_TRUE(dev.requests.empty()) << c.name;
    }
  }
}

// OtpWrite from binary files, with a scripted confirmation.
class OtpWriteTest : public testing::Test {
 protected:
  test::TempDir dir;
  Device dev;
  RequestChannel ch;
  ImageBuffer image{};
  RunSettings rs;
  int prompts = 0;
  int writes_before_answer = -1;
  int answer = 'y';
  std::string out;

  void SetUp() override {
    ch.device = &dev;
    rs.CommandCode = kCmdWrite;
    rs.OtpMode = 1;
  }

  // A binary OTP file: `first` then `size - 1` more bytes.
  void WriteImageFile(uint8_t first, size_t size) {
    std::string bytes(size, '\0');
    bytes[0] = static_cast<char>(first);
    for (size_t i = 1; i < size; ++i) bytes[i] = static_cast<char>(i % 13 + 0x20);
    test::WriteFile(dir.File("otp.bin"), bytes);
    rs.BinaryFileName = dir.File("otp.bin");
  }

  StageResult Write() {
    StageResult r;
    ConfirmationReader confirm = [this] {
      ++prompts;
      writes_before_answer = dev.Count(OTP_WRITE_BLOCK);
      return answer;
    };
    out = CaptureStdout([&] { r = OtpWrite(ch, rs, image, confirm); });
    return r;
  }
};

TEST_F(OtpWriteTest, FirstConfigurationGoesToOffsetZeroAfterTheConfirmation) {
  WriteImageFile(0xF3, 200);
  const StageResult r = Write();
  EXPECT_EQ(r.exit_code, kExitSuccess);
  EXPECT_TRUE(r.continue_run);
  EXPECT_EQ(out,
            "WARNING: OTP will be written from offset 0, Please confirm (y/n):"
            "The current device OTP was programmed with 200 bytes\n");
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(writes_before_answer, 0);
  const std::string file = test::ReadFile(dir.File("otp.bin"));
  EXPECT_EQ(std::string(dev.otp.begin(), dev.otp.begin() + 200), file);
  EXPECT_EQ(dev.otp[200], 0);
  // Signature first, then the data from offset 1.
  std::vector<std::pair<int, int>> writes;
  for (const auto& q : dev.requests) {
    if (q.code == OTP_WRITE_BLOCK) writes.push_back({q.offset, q.length});
  }
  EXPECT_EQ(writes, (std::vector<std::pair<int, int>>{{0, 1}, {1, 199}}));
}

TEST_F(OtpWriteTest, SecondConfigurationGoesBehindTheFirstHalf) {
  StoreFirstConfig(dev.otp, 240);
  const std::vector<uint8_t> first_half(dev.otp.begin() + 1, dev.otp.begin() + 257);
  WriteImageFile(0xF7, 512);
  const StageResult r = Write();
  EXPECT_EQ(r.exit_code, kExitSuccess);
  EXPECT_EQ(out,
            "WARNING: OTP will be written to offset 0x101, Please confirm (y/n):"
            "The current device OTP was programmed with 256 bytes\n");
  EXPECT_EQ(rs.OtpState, 256);
  EXPECT_EQ(dev.otp[0], 0xF7);  // 0xF3 | 0xF7
  EXPECT_EQ(std::vector<uint8_t>(dev.otp.begin() + 1, dev.otp.begin() + 257), first_half);
  const std::string file = test::ReadFile(dir.File("otp.bin"));
  EXPECT_EQ(std::string(dev.otp.begin() + 257, dev.otp.end()), file.substr(257));
}

TEST_F(OtpWriteTest, AnythingButYesRefusesTheWriteBeforeAnyProgramming) {
  for (int refusal : {int{'n'}, int{'N'}, int{'x'}, int{'\n'}, -1}) {
    Device fresh;
    ch.device = &fresh;
    WriteImageFile(0xF3, 200);
    answer = refusal;
    StageResult r;
    ConfirmationReader confirm = [&] { return answer; };
    out = CaptureStdout([&] { r = OtpWrite(ch, rs, image, confirm); });
    EXPECT_EQ(r.exit_code, kExitOtpWrite) << refusal;
    EXPECT_FALSE(r.continue_run);
    EXPECT_EQ(out, "WARNING: OTP will be written from offset 0, Please confirm (y/n):Exiting.\n");
    EXPECT_EQ(fresh.Count(OTP_WRITE_BLOCK), 0) << refusal;
    EXPECT_EQ(fresh.otp, std::vector<uint8_t>(512, 0));
  }
  for (int yes : {int{'y'}, int{'Y'}}) {
    Device fresh;
    ch.device = &fresh;
    answer = yes;
    EXPECT_EQ(Write().exit_code, kExitSuccess) << yes;
  }
}

TEST_F(OtpWriteTest, ConfirmedOnTheCommandLineSkipsTheWritePrompt) {
  rs.OtpWriteConfirmed = 1;
  answer = 'n';
  WriteImageFile(0xF3, 200);
  EXPECT_EQ(Write().exit_code, kExitSuccess);
  EXPECT_EQ(prompts, 0);
  EXPECT_EQ(out, "The current device OTP was programmed with 200 bytes\n");
}

TEST_F(OtpWriteTest, RefusedImagesNeverReachTheDevice) {
  struct Case {
    const char* name;
    bool half_used;
    int first;  // -1: empty file, -2: no file
    size_t size;
    int exit_code;
    std::string out;
  } cases[] = {
      {"0xF7 file on an empty OTP", false, 0xF7, 300, 12,
       "ERROR: OTP is empty and the Signature byte should be 0xF3\nERROR: OTP Binary image validation failed\n"},
      {"0xF3 file on a half-used OTP", true, 0xF3, 200, 12,
       "ERROR: Upper 256 bytes of OTP is empty and the Signature byte should be 0xF7\n"
       "ERROR: OTP Binary image validation failed\n"},
      {"0xF7 file one byte too long", true, 0xF7, 513, 12,
       "ERROR: The size of binary image is greater than available OTP size\n"},
      {"0xF3 file longer than the OTP", false, 0xF3, 514, 12,
       "ERROR: The size of binary image is greater than available OTP size\n"},
      {"unknown signature", false, 0xA5, 200, 12, "ERROR: Invalid signature a5 in the binary file\n"},
      {"empty file", false, -1, 0, 12, "ERROR: Error reading signature (first byte) from binary file\n"},
      {"missing file", false, -2, 0, 12, "ERROR: No file @ was found\n"},
  };
  for (const auto& c : cases) {
    Device fresh;
    if (c.half_used) StoreFirstConfig(fresh.otp, 240);
    ch.device = &fresh;
    if (c.first >= 0) {
      WriteImageFile(static_cast<uint8_t>(c.first), c.size);
    } else if (c.first == -1) {
      test::WriteFile(dir.File("empty.bin"), "");
      rs.BinaryFileName = dir.File("empty.bin");
    } else {
      rs.BinaryFileName = dir.File("none.bin");
    }
    StageResult r;
    ConfirmationReader confirm = [] { return 'y'; };
    out = CaptureStdout([&] { r = OtpWrite(ch, rs, image, confirm); });
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
    std::string expected = c.out;
    if (auto at = expected.find('@'); at != std::string::npos) expected.replace(at, 1, *rs.BinaryFileName);
    EXPECT_EQ(out, expected) << c.name;
    EXPECT_EQ(fresh.Count(OTP_WRITE_BLOCK), 0) << c.name;
  }
}

TEST_F(OtpWriteTest, SpaceCheckRefusalsEndTheRunWithTheirCodes) {
  struct Case {
    int signature;
    int end;
    int exit_code;
  } cases[] = {{0xF7, 0, 13}, {-1, 300, -1}, {0xFF, 0, 12}};
  for (const auto& c : cases) {
    Device fresh;
    if (c.signature < 0) {
      StoreFirstConfig(fresh.otp, c.end);
    } else {
      fresh.otp[0] = static_cast<uint8_t>(c.signature);
    }
    ch.device = &fresh;
    WriteImageFile(0xF7, 300);
    StageResult r;
    out = CaptureStdout([&] { r = OtpWrite(ch, rs, image, [] { return 'y'; }); });
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_FALSE(r.continue_run);
    EXPECT_EQ(fresh.Count(OTP_WRITE_BLOCK), 0);
  }
}

TEST_F(OtpWriteTest, ProgrammingAndVerificationFailuresEndWithTwelve) {
  struct Case {
    const char* name;
    int fail_write_nth;  // OTP_WRITE_BLOCK occurrence that fails
    int corrupt_at;
    std::string tail;
  } cases[] = {
      {"signature", 1, -1,
       "ERROR: OTP_WRITE_BLOCK failed! status:Access failed\n"
       "Failed to program device OTP offset 0 (Signature byte)\n"},
      {"data", 2, -1,
       "ERROR: OTP_WRITE_BLOCK failed! status:Access failed\n"
       "Failed to program device OTP offset 1, size = 199\n"},
      {"verification", 0, 3,
       "ERROR: Failed to verify OTP contents: offset 4, memory: 24  device: db\n"
       "ERROR: Failed to verify device OTP\n"},
  };
  for (const auto& c : cases) {
    Device fresh;
    if (c.fail_write_nth > 0) {
      fresh.FailNth(OTP_WRITE_BLOCK, c.fail_write_nth, kStatusAccessFailed);
    }
    ch.device = &fresh;
    WriteImageFile(0xF3, 200);
    StageResult r;
    ConfirmationReader confirm = [&] {
      fresh.corrupt_at = c.corrupt_at;  // only the read-back after the answer
      return 'y';
    };
    out = CaptureStdout([&] { r = OtpWrite(ch, rs, image, confirm); });
    EXPECT_EQ(r.exit_code, kExitOtpWrite) << c.name;
    EXPECT_FALSE(r.continue_run);
    EXPECT_EQ(out, "WARNING: OTP will be written from offset 0, Please confirm (y/n):" + c.tail) << c.name;
  }
}

TEST_F(OtpWriteTest, InvalidationNeedsAnUpperCaseYAndIgnoresTheCommandLineConfirmation) {
  const std::string prompt =
      "ERROR: The first byte of OTP will be written with 0xFF and OTP will be DEAD!!!\n"
      "ERROR: Please confirm (Y/N)\n";
  struct Case {
    int answer;
    int exit_code;
    uint8_t byte0;
    std::string tail;
  } cases[] = {{'Y', 0, 0xFF, ""}, {'y', 12, 0xF3, "Exiting.\n"}, {-1, 12, 0xF3, "Exiting.\n"}};
  for (const auto& c : cases) {
    Device fresh;
    StoreFirstConfig(fresh.otp, 240);
    ch.device = &fresh;
    rs.IniFileName = "unused.ini";
    rs.OtpSignature = kOtpSignatureInvalidate;
    rs.OtpWriteConfirmed = 1;
    StageResult r;
    out = CaptureStdout([&] { r = OtpWrite(ch, rs, image, [&] { return c.answer; }); });
    EXPECT_EQ(r.exit_code, c.exit_code) << c.answer;
    EXPECT_FALSE(r.continue_run);
    EXPECT_EQ(out, prompt + c.tail);
    EXPECT_EQ(fresh.otp[0], c.byte0);
    EXPECT_EQ(fresh.Count(OTP_WRITE_BLOCK), c.exit_code == 0 ? 1 : 0);
  }

  // Invalidation wins over a binary image named beside the INI file.
  Device fresh;
  StoreFirstConfig(fresh.otp, 240);
  ch.device = &fresh;
  WriteImageFile(0xF7, 300);
  StageResult r;
  out = CaptureStdout([&] { r = OtpWrite(ch, rs, image, [] { return 'Y'; }); });
  EXPECT_EQ(r.exit_code, kExitSuccess);
  EXPECT_EQ(fresh.otp[0], 0xFF);
  EXPECT_EQ(fresh.otp[257], 0);
}

TEST(OtpReadAndSaveTest, SavesTheWholeOtpAndReportsFailures) {
  test::TempDir dir;
  Device dev;
  for (int i = 0; i < 512; ++i) dev.otp[i] = static_cast<uint8_t>(i * 3);
  RequestChannel ch;
  ch.device = &dev;
  RunSettings rs;
  rs.BinaryFileName = dir.File("otp.bin");
  test::WriteFile(*rs.BinaryFileName, std::string(700, 'z'));
  StageResult r;
  std::string out = CaptureStdout([&] { r = OtpReadAndSave(ch, rs); });
  EXPECT_EQ(r.exit_code, kExitSuccess);
  EXPECT_TRUE(r.continue_run);
  EXPECT_EQ(out, "Saved OTP content to the file " + *rs.BinaryFileName + " under current folder\n");
  const std::string saved = test::ReadFile(*rs.BinaryFileName);
  ASSERT_EQ(saved.size(), 700u);
  EXPECT_EQ(saved.substr(0, 512), std::string(dev.otp.begin(), dev.otp.end()));
  ASSERT_FALSE(dev.requests.empty());
  EXPECT_EQ(dev.requests[1].offset, 0);
  EXPECT_EQ(dev.requests[1].length, 512);

  rs.BinaryFileName = "/dev/full";
  out = CaptureStdout([&] { r = OtpReadAndSave(ch, rs); });
  EXPECT_EQ(r.exit_code, kExitOtpRead);
  EXPECT_EQ(out, "ERROR: ERROR::WriteFile Failed\n");

  rs.BinaryFileName = dir.File("no/such/otp.bin");
  out = CaptureStdout([&] { r = OtpReadAndSave(ch, rs); });
  EXPECT_EQ(r.exit_code, kExitOtpRead);
  EXPECT_EQ(out, "ERROR: ERROR::Failed to create/open " + *rs.BinaryFileName + "\n");

  dev.FailNth(OTP_READ_BLOCK, 1, kStatusAccessFailed);  // the next one, after the reads above
  out = CaptureStdout([&] { r = OtpReadAndSave(ch, rs); });
  EXPECT_EQ(r.exit_code, kExitOtpRead);
  EXPECT_FALSE(r.continue_run);
  EXPECT_EQ(out, "ERROR: OTP_READ_BLOCK failed! status:Access failed\n");
}

}  // namespace
