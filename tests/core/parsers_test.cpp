// The text-to-number helpers: accepted forms, refused forms and the exact
// messages of HexStrToDword.
#include "core/parsers.h"

#include <gtest/gtest.h>

#include <string>

#include "support/capture.h"

namespace {

using test::CaptureStdout;

const std::string kBells(8, '\a');

struct HexCase {
  const char* input;
  bool ok;
  uint32_t value;       // expected output (also checked after a digit-count failure)
  const char* message;  // expected output text without the bells; "" when none
};

class HexStrToDwordTest : public testing::TestWithParam<HexCase> {};

TEST_P(HexStrToDwordTest, ValueAndMessage) {
  const HexCase& c = GetParam();
  uint32_t value = 0xDEADBEEF;
  bool ok = false;
  const std::string out = CaptureStdout([&] { ok = HexStrToDword(c.input, value); });
  EXPECT_EQ(ok, c.ok);
  if (c.ok || std::string(c.message).find("#digits") != std::string::npos) {
    EXPECT_EQ(value, c.value);
  }
  EXPECT_EQ(out, c.ok ? "" : kBells + c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HexStrToDwordTest,
    testing::Values(
        HexCase{"0", true, 0, ""}, HexCase{"1F", true, 0x1F, ""}, HexCase{"0x1F", true, 0x1F, ""},
        HexCase{"0X1f", true, 0x1F, ""}, HexCase{"0xFFFFFFFF", true, 0xFFFFFFFF, ""},
        HexCase{"1234_5678", true, 0x12345678, ""}, HexCase{"5x10", true, 0x510, ""},
        HexCase{"00", true, 0, ""}, HexCase{"1234__5678", true, 0x12345678, ""},
        HexCase{"", false, 0, "  ERROR:  HexStrToDword:  empty string\n"},
        HexCase{"0x", false, 0, "  ERROR:  HexStrToDword:  bad #digits =0 (s/b <= 8)\n"},
        HexCase{"0x1234_5678", false, 0, "  ERROR:  HexStrToDword:  bad strlen=11\n"},
        HexCase{"12_34", false, 0,
                "  ERROR:  HexStrToDword, underscore must be between upper/lower words\n"},
        HexCase{"_1", false, 0,
                "  ERROR:  HexStrToDword, underscore must be between upper/lower words\n"},
        HexCase{"123456789", false, 0x23456789,
                "  ERROR:  HexStrToDword:  bad #digits =9 (s/b <= 8)\n"},
        HexCase{"0x12G4", false, 0, "  ERROR:  HexStrToDword, bad char szBuf[4]=0x47\n"},
        HexCase{"x1", false, 0, "  ERROR:  HexStrToDword, bad char szBuf[0]=0x78\n"},
        HexCase{"1\xC3", false, 0, "  ERROR:  HexStrToDword, bad char szBuf[1]=0xC3\n"},
        HexCase{"-5", false, 0, "  ERROR:  HexStrToDword, bad char szBuf[0]=0x2D\n"}));

TEST(HexStrToDword, RefusedCharacterLeavesValueUntouched) {
  uint32_t value = 77;
  CaptureStdout([&] { EXPECT_FALSE(HexStrToDword("12Z", value)); });
  EXPECT_EQ(value, 77u);
}

TEST(ParseHex16, Table) {
  struct Case {
    const char* input;
    int result;
    uint16_t value;
  };
  const Case cases[] = {
      {"0x1F7B", 0, 0x1F7B}, {"0X", 0, 0},        {"0x12 ", 0, 0x12},  {"0x12\tz", 0, 0x12},
      {"0xabcd", 0, 0xABCD}, {"1F7B", -1, 0},     {"0x12345", -1, 0},  {"0x12G", -1, 0},
      {"0", -1, 0},          {"", -1, 0},         {"x01234", -1, 0},   {"0x-1", -1, 0},
  };
  for (const Case& c : cases) {
    uint16_t value = 0x5555;
    EXPECT_EQ(ParseHex16(c.input, value), c.result) << c.input;
    if (c.result == 0) {
      EXPECT_EQ(value, c.value) << c.input;
    }
  }
  uint16_t value = 9;
  EXPECT_EQ(ParseHex16(nullptr, value), -1);
  EXPECT_EQ(value, 9);
}

TEST(ParseMacAddress, AcceptedForms) {
  const MacAddress expected{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  for (const char* text : {"00:11:22:33:44:55", "00-11-22-33-44-55", "00:11-22:33-44:55"}) {
    MacAddress mac{};
    EXPECT_EQ(ParseMacAddress(text, mac), 0) << text;
    EXPECT_EQ(mac, expected) << text;
  }
  MacAddress mac{};
  EXPECT_EQ(ParseMacAddress("aB:cD:eF:0a:9F:fe", mac), 0);
  EXPECT_EQ(mac, (MacAddress{0xAB, 0xCD, 0xEF, 0x0A, 0x9F, 0xFE}));
}

TEST(ParseMacAddress, RefusedForms) {
  for (const char* text :
       {"00:11:22:33:44:5", "00:11:22:33:44:555", "0011:22:33:44:55", "00:11:22:33:44", "",
        "00.11.22.33.44.55", "00:11:22:33:44:5G", "00:11:22:33:44:55:", "0:11:22:33:44:55"}) {
    MacAddress mac{};
    EXPECT_EQ(ParseMacAddress(text, mac), -1) << text;
  }
  MacAddress none{};
  EXPECT_EQ(ParseMacAddress(nullptr, none), -1);
}

TEST(ParseMacAddress, BytesBeforeTheFailureStay) {
  MacAddress mac{9, 9, 9, 9, 9, 9};
  EXPECT_EQ(ParseMacAddress("01:02:03:zz:05:06", mac), -1);
  EXPECT_EQ(mac, (MacAddress{1, 2, 3, 9, 9, 9}));
}

}  // namespace
