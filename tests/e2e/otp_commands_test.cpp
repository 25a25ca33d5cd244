// OTP commands end to end: the built tool against a simulated device. The
// trace is the safety record: no OTP programming request may precede the
// confirmation, and a refused run sends none at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/eeprom_e2e_support.h"

namespace {

using e2e::Bytes;
using e2e::SimDevice;

const char kWritePromptFirst[] = "WARNING: OTP will be written from offset 0, Please confirm (y/n):";
const char kWritePromptSecond[] = "WARNING: OTP will be written to offset 0x101, Please confirm (y/n):";

class OtpCommand : public testing::Test {
 protected:
  SimDevice dev;
  std::string ini_text = e2e::IniText();

  void SetUp() override { test::WriteFile(dev.dir.File("config.ini"), ini_text); }
  void UseIni(const std::string& extra) {
    ini_text = e2e::IniText() + extra;
    test::WriteFile(dev.dir.File("config.ini"), ini_text);
  }
  void SetOtp(const Bytes& otp) { dev.state["otp"] = e2e::Hex(otp); }
  void WriteFile(const std::string& name, const Bytes& b) {
    test::WriteFile(dev.dir.File(name), std::string(b.begin(), b.end()));
  }
  // OTP write requests as (offset, length).
  std::vector<std::pair<int, int>> OtpWrites() const {
    std::vector<std::pair<int, int>> out;
    for (const auto& q : dev.Requests("OTP_WRITE_BLOCK")) out.push_back(e2e::OffsetLength(q));
    return out;
  }
};

TEST_F(OtpCommand, FirstThenSecondConfigurationFromTheIniFile) {
  auto r = dev.Run({"-O", "-w", "-i", "config.ini"}, "y\n");
  SKIP_IF_NOT_LANDED(r);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, test::Banner() + kWritePromptFirst + "The current device OTP was programmed with 254 bytes\n");
  Bytes otp = dev.Memory("otp");
  ASSERT_EQ(otp.size(), 512u);
  EXPECT_EQ(otp[0], 0xF3);
  EXPECT_EQ(Bytes(otp.begin() + 1, otp.begin() + 7), (Bytes{0x00, 0x80, 0x0F, 0x11, 0x22, 0x30}));
  EXPECT_EQ(otp[0x26], 0x60) << "first configuration strings are unbiased";
  EXPECT_EQ(Bytes(otp.begin() + 254, otp.end()), Bytes(258, 0));
  EXPECT_EQ(OtpWrites(), (std::vector<std::pair<int, int>>{{0, 1}, {1, 253}}));
  const Bytes first(otp.begin(), otp.begin() + 254);

  r = dev.Run({"-O", "-w", "-i", "config.ini"}, "Y");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, test::Banner() + kWritePromptSecond + "The current device OTP was programmed with 254 bytes\n");
  otp = dev.Memory("otp");
  EXPECT_EQ(otp[0], 0xF7);
  EXPECT_EQ(Bytes(otp.begin() + 1, otp.begin() + 254), Bytes(first.begin() + 1, first.end()))
      << "the first configuration is untouched";
  EXPECT_EQ(Bytes(otp.begin() + 257, otp.begin() + 263), (Bytes{0x00, 0x80, 0x0F, 0x11, 0x22, 0x30}))
      << "image byte k of the second configuration sits at OTP offset 256 + k";
  EXPECT_EQ(otp[256 + 0x26], 0xE0) << "second configuration word offsets carry the bias";
  EXPECT_EQ(OtpWrites(), (std::vector<std::pair<int, int>>{{0, 1}, {257, 253}}));

  // Now the OTP is full.
  r = dev.Run({"-O", "-w", "-i", "config.ini"}, "y");
  EXPECT_EQ(r.exit_code, 13);
  EXPECT_EQ(r.out, test::Banner() + "ERROR: Device OTP full (Signature 0xF7), cannot write OTP\n");
  EXPECT_TRUE(OtpWrites().empty());
}

TEST_F(OtpCommand, RefusedRunsSendNoProgrammingRequest) {
  struct Case {
    const char* name;
    Bytes otp;
    std::string ini_extra;
    std::vector<std::string> args;
    std::string input;
    int exit_code;
    std::string out;
  } cases[] = {
      {"0xF3 requested on a used OTP", e2e::OtpWithFirstConfig(240), "[OtpConfig]\nOtpSignature=0xF3\n",
       {"-O", "-w", "-i", "config.ini"}, "y\n", 12,
       "ERROR: OTP Signature provided through ini file is 0xF3 but OTP is not empty\n"
       "ERROR: Validation of OTP settings failed\n"},
      {"first configuration of 300 bytes", e2e::OtpWithFirstConfig(300), "", {"-O", "-w", "-i", "config.ini"},
       "y\n", 255, "OTP already using 300 bytes. Cannot write OTP\n"},
      {"answer n", Bytes(512, 0), "", {"-O", "-w", "-i", "config.ini"}, "n\n", 12,
       std::string(kWritePromptFirst) + "Exiting.\n"},
      {"end of input", Bytes(512, 0), "", {"-O", "-w", "-i", "config.ini"}, "", 12,
       std::string(kWritePromptFirst) + "Exiting.\n"},
      {"-C with another word", Bytes(512, 0), "", {"-O", "-w", "-i", "config.ini", "-C", "yes"}, "", 12,
       std::string(kWritePromptFirst) + "Exiting.\n"},
      {"invalidating an empty OTP", Bytes(512, 0), "[OtpConfig]\nOtpSignature=0xDEAD\n",
       {"-O", "-w", "-i", "config.ini"}, "Y\n", 12,
       "ERROR: Signature ( 0 )found in OTP is 0, Hence device is not using OTP. No need to write 0xFF\n"},
  };
  for (const auto& c : cases) {
    SetOtp(c.otp);
    UseIni(c.ini_extra);
    const auto r = dev.Run(c.args, c.input);
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
    EXPECT_EQ(r.out, test::Banner() + c.out) << c.name;
    EXPECT_TRUE(OtpWrites().empty()) << c.name;
    EXPECT_EQ(dev.Memory("otp"), c.otp) << c.name;
    EXPECT_EQ(test::ReadFile(dev.dir.File("config.ini")), ini_text) << c.name;
  }
}

TEST_F(OtpCommand, InvalidationTakesOnlyAnUpperCaseY) {
  const std::string prompt =
      "ERROR: The first byte of OTP will be written with 0xFF and OTP will be DEAD!!!\n"
      "ERROR: Please confirm (Y/N)\n";
  UseIni("[OtpConfig]\nOtpSignature=0xDEAD\n");
  struct Case {
    std::string input;
    std::vector<std::string> extra_args;
    int exit_code;
    uint8_t byte0;
  } cases[] = {
      {"Y\n", {}, 0, 0xFF},
      {"y\n", {}, 12, 0xF3},
      {"", {}, 12, 0xF3},
      {"N\n", {"-C", "YES"}, 12, 0xF3},  // -C confirms writes, never this
  };
  for (const auto& c : cases) {
    const Bytes otp = e2e::OtpWithFirstConfig(240);
    SetOtp(otp);
    std::vector<std::string> args = {"-O", "-w", "-i", "config.ini", "-N"};
    args.insert(args.end(), c.extra_args.begin(), c.extra_args.end());
    const auto r = dev.Run(args, c.input);
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.input;
    EXPECT_EQ(r.out, test::Banner() + prompt + (c.exit_code == 0 ? "" : "Exiting.\n")) << c.input;
    Bytes expected = otp;
    expected[0] = c.byte0;
    EXPECT_EQ(dev.Memory("otp"), expected);
    EXPECT_EQ(OtpWrites().size(), c.exit_code == 0 ? 1u : 0u);
    EXPECT_EQ(test::ReadFile(dev.dir.File("config.ini")), ini_text) << "invalidation never steps the identity";
  }
}

TEST_F(OtpCommand, CommandLineConfirmationSkipsTheWritePrompt) {
  const auto r = dev.Run({"-O", "-w", "-i", "config.ini", "-C", "YES"});
  SKIP_IF_NOT_LANDED(r);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, test::Banner() + "The current device OTP was programmed with 254 bytes\n");
  EXPECT_EQ(dev.Memory("otp")[0], 0xF3);
}

TEST_F(OtpCommand, BinaryFilesMustSuitTheOtpState) {
  const Bytes first = e2e::BinaryImage(220, 0xF3);
  const Bytes second_file = e2e::SecondConfigFile(460);
  WriteFile("first.bin", first);
  WriteFile("second.bin", second_file);
  struct Case {
    const char* name;
    bool half_used;
    const char* file;
    int exit_code;
    std::string out;
  } cases[] = {
      {"0xF3 file on an empty OTP", false, "first.bin", 0,
       std::string(kWritePromptFirst) + "The current device OTP was programmed with 220 bytes\n"},
      {"0xF7 file on a half-used OTP", true, "second.bin", 0,
       std::string(kWritePromptSecond) + "The current device OTP was programmed with 204 bytes\n"},
      {"0xF7 file on an empty OTP", false, "second.bin", 12,
       "ERROR: OTP is empty and the Signature byte should be 0xF3\nERROR: OTP Binary image validation failed\n"},
      {"0xF3 file on a half-used OTP", true, "first.bin", 12,
       "ERROR: Upper 256 bytes of OTP is empty and the Signature byte should be 0xF7\n"
       "ERROR: OTP Binary image validation failed\n"},
  };
  for (const auto& c : cases) {
    const Bytes before = c.half_used ? e2e::OtpWithFirstConfig(240) : Bytes(512, 0);
    SetOtp(before);
    const auto r = dev.Run({"-O", "-w", "-b", c.file}, "y\n");
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
    EXPECT_EQ(r.out, test::Banner() + c.out) << c.name;
    const Bytes otp = dev.Memory("otp");
    if (c.exit_code != 0) {
      EXPECT_TRUE(OtpWrites().empty()) << c.name;
      EXPECT_EQ(otp, before) << c.name;
    } else if (!c.half_used) {
      Bytes expected = first;
      expected.resize(512, 0);
      EXPECT_EQ(otp, expected) << c.name;
    } else {
      Bytes expected = before;
      expected[0] = 0xF7;
      std::copy(second_file.begin() + 257, second_file.end(), expected.begin() + 257);
      EXPECT_EQ(otp, expected) << c.name;
      EXPECT_EQ(OtpWrites(), (std::vector<std::pair<int, int>>{{0, 1}, {257, 203}}));
    }
  }
}

TEST_F(OtpCommand, SecondConfigurationFileFillsTheOtpToItsLastByte) {
  for (size_t size : {size_t{512}, size_t{513}}) {
    const Bytes file = e2e::SecondConfigFile(size);
    WriteFile("second.bin", file);
    const Bytes before = e2e::OtpWithFirstConfig(240);
    SetOtp(before);
    const auto r = dev.Run({"-O", "-w", "-b", "second.bin", "-C", "YES"});
    SKIP_IF_NOT_LANDED(r);
    const Bytes otp = dev.Memory("otp");
    if (size == 512) {
      EXPECT_EQ(r.exit_code, 0) << r.out;
      EXPECT_EQ(r.out, test::Banner() + "The current device OTP was programmed with 256 bytes\n");
      EXPECT_EQ(Bytes(otp.begin() + 257, otp.end()), Bytes(file.begin() + 257, file.end()));
    } else {
      EXPECT_NE(r.exit_code, 0) << r.out;
      EXPECT_TRUE(OtpWrites().empty());
      EXPECT_EQ(otp, before);
    }
  }
}

TEST_F(OtpCommand, ReadSavesTheWholeOtp) {
  Bytes otp = e2e::OtpWithFirstConfig(240);
  SetOtp(otp);
  dev.state["chip_id"] = "0x53500000";
  const auto r = dev.Run({"-O", "-r"});
  SKIP_IF_NOT_LANDED(r);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, test::Banner() + "Saved OTP content to the file orn5350-otp.bin under current folder\n");
  EXPECT_EQ(test::ReadFile(dev.dir.File("orn5350-otp.bin")), std::string(otp.begin(), otp.end()));
  EXPECT_EQ(dev.Count("E2P_READ_BYTE"), 0) << "no EEPROM probe in OTP mode";
}

}  // namespace
