// The EEPROM flows against a fake driver: the size probe and its restores,
// the read-back save, the write from a binary image and the verification.
#include "eeprom/eeprom_flows.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/capture.h"
#include "support/fake_device.h"
#include "support/tool_runner.h"

namespace {

using fake::Device;
using test::CaptureStdout;

class EepromFlowsTest : public testing::Test {
 protected:
  void Use(Device& dev) { ch.device = &dev; }
  RequestChannel ch;
};

TEST_F(EepromFlowsTest, ProbeFindsTheSizeAndRestoresWhatItWrote) {
  struct Case {
    int part_size;
    int32_t expected;
    std::vector<uint32_t> codes;
  };
  const std::vector<uint32_t> bracket = {E2P_COMMAND, E2P_WRITE_BYTE, E2P_COMMAND};
  auto join = [&](std::initializer_list<std::vector<uint32_t>> parts) {
    std::vector<uint32_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const Case cases[] = {
      {512, 512, join({{E2P_READ_BYTE}, bracket, bracket, {E2P_READ_BYTE}, bracket, {E2P_READ_BYTE}, bracket})},
      {256, 256, join({{E2P_READ_BYTE}, bracket, bracket, {E2P_READ_BYTE}, bracket, {E2P_READ_BYTE}, bracket})},
  };
  for (const auto& c : cases) {
    Device dev(c.part_size);
    for (size_t i = 0; i < dev.eeprom.size(); ++i) dev.eeprom[i] = static_cast<uint8_t>(i * 7 + 1);
    const std::vector<uint8_t> before = dev.eeprom;
    Use(dev);
    int32_t size = 0;
    ASSERT_TRUE(DetectEepromSize(ch, size)) << c.part_size;
    EXPECT_EQ(size, c.expected);
    EXPECT_EQ(dev.eeprom, before) << "probe left a changed byte on a " << c.part_size << "-byte part";
    EXPECT_EQ(dev.Codes(), c.codes);
    // Offsets of the byte requests, in order.
    std::vector<int> offsets;
    for (const auto& r : dev.requests) {
      if (r.code == E2P_READ_BYTE || r.code == E2P_WRITE_BYTE) offsets.push_back(r.offset);
    }
    const int last = c.part_size == 512 ? 256 : 0;
    EXPECT_EQ(offsets, (std::vector<int>{0, 0, 0, 256, 256, 0, last}));
  }
}

TEST_F(EepromFlowsTest, ProbeThatFailsPutsBackEveryByteItChanged) {
  // Each byte operation of the probe in turn, by code and occurrence, on
  // both part sizes: the read-only -r must never leave a byte inverted.
  const struct {
    uint32_t code;
    int nth;
  } steps[] = {{E2P_READ_BYTE, 1},  {E2P_WRITE_BYTE, 1}, {E2P_WRITE_BYTE, 2}, {E2P_READ_BYTE, 2},
               {E2P_WRITE_BYTE, 3}, {E2P_READ_BYTE, 3},  {E2P_WRITE_BYTE, 4}};
  for (int part : {256, 512}) {
    for (auto step : steps) {
      Device dev(part);
      for (size_t i = 0; i < dev.eeprom.size(); ++i) dev.eeprom[i] = static_cast<uint8_t>(i * 7 + 1);
      const std::vector<uint8_t> before = dev.eeprom;
      dev.FailNth(step.code, step.nth, kStatusAccessFailed);
      Use(dev);
      RunSettings rs;
      rs.CommandCode = kCmdRead;
      int code = 0;
      const std::string out = CaptureStdout([&] { code = FixEepromSize(ch, rs); });
      const std::string where = std::to_string(part) + " bytes, " + std::to_string(step.code) + "#" +
                                std::to_string(step.nth);
      EXPECT_EQ(code, kExitEepromRead) << where;
      EXPECT_EQ(dev.eeprom, before) << where;
      EXPECT_NE(out.find(step.code == E2P_READ_BYTE ? "ERROR: E2P_READ_BYTE failed!    status:Access failed\n"
                                                   : "ERROR: E2P_WRITE_BYTE failed!    status:Access failed\n"),
                std::string::npos)
          << out;
      EXPECT_EQ(out.find("could not restore"), std::string::npos) << where << out;
    }
  }
}

TEST_F(EepromFlowsTest, SizeIsProbedOnlyForDeviceReadsAndWritesOfTheEeprom) {
  struct Case {
    int command;
    int otp_mode;
    bool target_file;
    bool probes;
  } cases[] = {{kCmdRead, 0, false, true},  {kCmdWrite, 0, false, true}, {kCmdNone, 0, false, false},
               {kCmdWrite, 1, false, false}, {kCmdRead, 1, false, false}, {kCmdNone, 0, true, false}};
  for (const auto& c : cases) {
    Device dev(256);
    Use(dev);
    RunSettings rs;
    rs.CommandCode = c.command;
    rs.OtpMode = c.otp_mode;
    if (c.target_file) rs.TargetFileName = "image.bin";
    ASSERT_EQ(FixEepromSize(ch, rs), kExitSuccess);
    EXPECT_EQ(rs.EepromSize, c.probes ? 256 : 512) << c.command << "/" << c.otp_mode;
    EXPECT_EQ(dev.requests.empty(), !c.probes);
  }
}

TEST_F(EepromFlowsTest, VerifyReportsEachOutcome) {
  std::vector<uint8_t> image(512);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
  struct Case {
    const char* name;
    int count;
    int corrupt_at;
    bool fail_read;
    int result;
    const char* out;
  } cases[] = {
      {"match", 300, -1, false, 0, ""},
      {"difference beyond the count is ignored", 300, 400, false, 0, ""},
      {"mismatch", 300, 299, false, 1, "Failed to verify eeprom contents\n"},
      {"read fails", 300, -1, true, 5, "ERROR: E2P_READ_BLOCK failed!    status:Access failed\nFailed to read eeprom\n"},
      {"count above 512", 513, -1, false, 6, "Invalid eeprom size\n"},
  };
  for (const auto& c : cases) {
    Device dev;
    std::copy(image.begin(), image.end(), dev.eeprom.begin());
    dev.corrupt_at = c.corrupt_at;
    if (c.fail_read) dev.FailNth(E2P_READ_BLOCK, 1, kStatusAccessFailed);
    Use(dev);
    int result = -99;
    const std::string out = CaptureStdout([&] { result = VerifyEeprom(ch, image.data(), c.count); });
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
    if (c.count > 512) {
      EXPECT_TRUE(dev.requests.empty()) << c.name;
    } else {
      ASSERT_FALSE(dev.requests.empty()) << c.name;
      EXPECT_EQ(dev.requests[0].length, c.count) << c.name;
    }
  }
}

TEST_F(EepromFlowsTest, ReadBackOverwritesAFileFromItsStartWithoutShorteningIt) {
  test::TempDir dir;
  const std::string path = dir.File("out.bin");
  test::WriteFile(path, std::string(600, 'x'));
  Device dev;
  for (size_t i = 0; i < dev.eeprom.size(); ++i) dev.eeprom[i] = static_cast<uint8_t>(255 - i);
  Use(dev);
  RunSettings rs;
  rs.BinaryFileName = path;
  StageResult r;
  const std::string out = CaptureStdout([&] { r = EepromReadAndSave(ch, rs); });
  EXPECT_EQ(r.exit_code, kExitSuccess);
  EXPECT_TRUE(r.continue_run);
  EXPECT_EQ(out, "Saved Eeprom to the file " + path + " under current folder\n");
  const std::string saved = test::ReadFile(path);
  ASSERT_EQ(saved.size(), 600u);
  EXPECT_EQ(saved.substr(0, 512), std::string(dev.eeprom.begin(), dev.eeprom.end()));
  EXPECT_EQ(saved.substr(512), std::string(88, 'x'));

  // A missing file is created with exactly the EEPROM size.
  rs.EepromSize = 256;
  rs.BinaryFileName = dir.File("new.bin");
  CaptureStdout([&] { r = EepromReadAndSave(ch, rs); });
  EXPECT_EQ(r.exit_code, kExitSuccess);
  EXPECT_EQ(test::ReadFile(dir.File("new.bin")).size(), 256u);
}

TEST_F(EepromFlowsTest, ReadBackFailuresEndTheRunWithCodeFive) {
  test::TempDir dir;
  struct Case {
    const char* name;
    std::string path;
    bool fail_read;
    const char* out;
  } cases[] = {
      {"device read fails", dir.File("a.bin"), true, "ERROR: E2P_READ_BLOCK failed!    status:Access failed\n"},
      {"file cannot be created", dir.File("missing/a.bin"), false, nullptr},
      // The data reaches the file only when the buffer is flushed: a full
      // device must not be reported as a saved file.
      {"file cannot take the data", "/dev/full", false, "ERROR: ERROR::WriteFile Failed\n"},
  };
  for (const auto& c : cases) {
    Device dev;
    if (c.fail_read) dev.FailNth(E2P_READ_BLOCK, 1, kStatusAccessFailed);
    Use(dev);
    RunSettings rs;
    rs.BinaryFileName = c.path;
    StageResult r;
    const std::string out = CaptureStdout([&] { r = EepromReadAndSave(ch, rs); });
    EXPECT_EQ(r.exit_code, kExitEepromRead) << c.name;
    EXPECT_FALSE(r.continue_run) << c.name;
    const std::string expected =
        c.out ? c.out : "ERROR: ERROR::Failed to create/open " + c.path + "\n";
    EXPECT_EQ(out, expected) << c.name;
  }
}

TEST(EepromSaveNameTest, DefaultNamesFollowTheModelAndSize) {
  RunSettings rs;
  std::snprintf(rs.ModelFilePrefix.data(), rs.ModelFilePrefix.size(), "%s", "orn530A");
  EXPECT_EQ(DefaultSaveName(rs, "-256.bin"), "orn530A-256.bin");
  EXPECT_EQ(DefaultSaveName(rs, "-otp.bin"), "orn530A-otp.bin");
}

class EepromWriteTest : public EepromFlowsTest {
 protected:
  test::TempDir dir;
  ImageBuffer image{};

  // Writes a binary image file and a record that programs it without an
  // identity to patch in.
  RunSettings Settings(size_t file_size, int eeprom_size = 512) {
    std::string bytes(file_size, '\0');
    for (size_t i = 0; i < file_size; ++i) bytes[i] = static_cast<char>(i % 251 + 1);
    test::WriteFile(dir.File("img.bin"), bytes);
    RunSettings rs;
    rs.CommandCode = kCmdWrite;
    rs.BinaryFileName = dir.File("img.bin");
    rs.EepromSize = eeprom_size;
    return rs;
  }
};

TEST_F(EepromWriteTest, BinaryImageIsWrittenOverTheWholePartAndVerifiedOverItsLength) {
  for (size_t file_size : {size_t{300}, size_t{512}}) {
    Device dev;
    Use(dev);
    RunSettings rs = Settings(file_size);
    StageResult r;
    const std::string out = CaptureStdout([&] { r = EepromWrite(ch, rs, image); });
    EXPECT_EQ(r.exit_code, kExitSuccess);
    EXPECT_TRUE(r.continue_run);
    EXPECT_EQ(out, "The current device EEPROM was programmed with " + std::to_string(file_size) + " bytes\n");
    EXPECT_EQ(rs.ImageByteCount, static_cast<int>(file_size));
    const std::string file = test::ReadFile(dir.File("img.bin"));
    EXPECT_EQ(std::string(dev.eeprom.begin(), dev.eeprom.begin() + file_size), file);
    EXPECT_EQ(std::vector<uint8_t>(dev.eeprom.begin() + file_size, dev.eeprom.end()),
              std::vector<uint8_t>(512 - file_size, 0));
    EXPECT_EQ(dev.Codes(), (std::vector<uint32_t>{E2P_COMMAND, E2P_WRITE_BLOCK, E2P_COMMAND, E2P_READ_BLOCK}));
    EXPECT_EQ(dev.requests[1].length, 512);
    EXPECT_EQ(dev.requests[3].length, file_size);
  }
}

TEST_F(EepromWriteTest, FailuresEndWithCodeNineAndTheirMessages) {
  struct Case {
    const char* name;
    size_t file_size;
    int eeprom_size;
    uint32_t fail_code;
    int corrupt_at;
    const char* out;
    bool writes;
  } cases[] = {
      {"image larger than a 512-byte part", 520, 512, 0, -1,
       "ERROR: The size of binary file is greater than eeprom size\n", false},
      {"image larger than a 256-byte part", 300, 256, 0, -1,
       "ERROR: The size of binary file is greater than eeprom size\n", false},
      {"programming fails", 300, 512, E2P_WRITE_BLOCK, -1,
       "ERROR: E2P_WRITE_BLOCK failed!    status:Access failed\nFailed to program device eeprom\n", true},
      {"read-back differs", 300, 512, 0, 17,
       "Failed to verify eeprom contents\nERROR: Failed to verify device eeprom\n", true},
  };
  for (const auto& c : cases) {
    Device dev(c.eeprom_size);
    if (c.fail_code != 0) dev.FailNth(c.fail_code, 1, kStatusAccessFailed);
    dev.corrupt_at = c.corrupt_at;
    Use(dev);
    RunSettings rs = Settings(c.file_size, c.eeprom_size);
    StageResult r;
    const std::string out = CaptureStdout([&] { r = EepromWrite(ch, rs, image); });
    EXPECT_EQ(r.exit_code, kExitEepromWrite) << c.name;
    EXPECT_FALSE(r.continue_run) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
    EXPECT_EQ(dev.Count(E2P_WRITE_BLOCK) > 0, c.writes) << c.name;
  }
}

TEST_F(EepromWriteTest, MissingImageFileOrNoSourceIsRefusedBeforeTheDevice) {
  Device dev;
  Use(dev);
  RunSettings rs;
  rs.BinaryFileName = dir.File("none.bin");
  StageResult r;
  std::string out = CaptureStdout([&] { r = EepromWrite(ch, rs, image); });
  EXPECT_EQ(r.exit_code, kExitEepromWrite);
  EXPECT_EQ(out, "ERROR: No file " + dir.File("none.bin") + " was found\n");
  rs.BinaryFileName.reset();
  out = CaptureStdout([&] { r = EepromWrite(ch, rs, image); });
  EXPECT_EQ(r.exit_code, kExitEepromWrite);
  EXPECT_TRUE(dev.requests.empty());
}

}  // namespace
