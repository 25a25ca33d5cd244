// The section scan: headers, unknown sections, rewinding to the next header,
// repeated sections, write-back positions and unreadable files.
#include <gtest/gtest.h>

#include <string>

#include "config/ini_reader.h"
#include "config/ini_test_util.h"
#include "support/capture.h"

namespace {

using initest::ReadText;
using test::CaptureStdout;

const char kIdSection[] = "[ID]\nVendorID=0x1234\nProductID=0x5678\nBcdDevice=0001\n";
const char kPowerSection[] = "[Power]\nHSMaxPower=100\n";

TEST(IniScan, HeadersAndSectionBoundaries) {
  struct Case {
    const char* name;
    std::string text;
    int result;
    std::string out;
    uint16_t vendor;
    int32_t hs_power;
  } cases[] = {
      {"only comments and blanks", "# a\n\n  \n#[ID]\n\t\n", 0, "", 0x1F7B, 0},
      {"indented header", std::string("  ") + kIdSection, 0, "", 0x1234, 0},
      {"header followed by a blank is a key line: its lines stay in [ID]",
       std::string(kIdSection) + "[Power] \nHSMaxPower=100\n", 0, "", 0x1234, 0},
      {"letter case makes an unknown section, skipped silently",
       "[id]\nVendorID=zz\n[power]\nHSMaxPower=1\n", 0, "", 0x1F7B, 0},
      {"blanks inside brackets make an unknown section", "[ ID ]\nVendorID=0x0001\n", 0, "",
       0x1F7B, 0},
      {"stray key lines before the first header", "VendorID=0x9\nHSMaxPower=4\n", 0, "", 0x1F7B,
       0},
      {"next header read again after the section",
       std::string(kIdSection) + kPowerSection, 0, "", 0x1234, 100},
      {"blank and comment lines before the next header",
       std::string(kIdSection) + "\n# power next\n\n" + kPowerSection, 0, "", 0x1234, 100},
      {"unknown section between known ones",
       std::string(kIdSection) + "[Other]\nHSMaxPower=2\n" + kPowerSection, 0, "", 0x1234, 100},
      {"last key line without a line break is processed",
       "[Power]\nHSMaxPower=100", 0, "", 0x1F7B, 100},
      {"header on the last line without a line break is not acted on",
       "[Power]\nHSMaxPower=100\n[ID]", 0, "", 0x1F7B, 100},
      {"CR LF file", "[ID]\r\nVendorID=0x1234\r\nProductID=0x1\r\nBcdDevice=1\r\n[Power]\r\nHSMaxPower=100\r\n",
       0, "", 0x1234, 100},
      {"a failing section stops the reading",
       "[ID]\nVendorID=0x12345\nProductID=0x1\nBcdDevice=1\n[Power]\nHSMaxPower=100\n", -1,
       "ERROR: Invalid vendor ID. Should be in the format 0x1F7B\n", 0x1F7B, 0},
      {"the text of a line ends at a NUL byte",
       std::string("[ID]\0junk\nVendorID=0x1234\0 !\nProductID=0x1\nBcdDevice=1\n", 55), 0, "",
       0x1234, 0},
  };
  for (const Case& c : cases) {
    const initest::IniRead r = ReadText(c.text);
    EXPECT_EQ(r.result, c.result) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.rs.VendorID, c.vendor) << c.name;
    EXPECT_EQ(r.rs.HSMaxPower, c.hs_power) << c.name;
  }
}

TEST(IniScan, RepeatedSectionLaterValuesWinAndEarlierKeysCount) {
  const initest::IniRead r = ReadText(
      "[ID]\nVendorID=0x1111\nProductID=0x2222\nBcdDevice=0200\n"
      "[Power]\nHSMaxPower=100\n"
      "[ID]\nVendorID=0x3333\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.rs.VendorID, 0x3333);
  EXPECT_EQ(r.rs.ProductID, 0x2222);
  EXPECT_EQ(r.rs.BcdDevice, 0x0200);
  EXPECT_EQ(r.rs.HSMaxPower, 100);
  EXPECT_TRUE(r.rs.markers.Completed("[ID]"));
}

TEST(IniScan, RepeatedKeyReplacesBcdDevice) {
  const initest::IniRead r =
      ReadText("[ID]\nVendorID=0x1\nProductID=0x1\nBcdDevice=0100\nBcdDevice=0002\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.rs.BcdDevice, 0x0002);
}

// The write-back rewrites the two values in place, so their offsets must be
// the exact byte offsets in the file whatever precedes them.
TEST(IniScan, WriteBackPositionsAreExactByteOffsets) {
  const std::string text =
      "# serial numbers of line 3\r\n"
      "[SerialNumber]\r\n"
      "\r\n"
      "# current one\r\n"
      "MaximumSerialNumber=0000FFFF\r\n"
      "#CurrentSerialNumber=99999999\r\n"
      "   CurrentSerialNumber =  0000A0B1  next\r\n"
      "SerialNumberIncrement=1\r\n"
      "[Other]\r\n"
      "CurrentMacAddress=00:00:00:00:00:01\r\n"
      "[MacAddress]\r\n"
      "MacAddressIncrement=1\r\n"
      "# current mac\r\n"
      "\r\n"
      "CurrentMacAddress=00-11-22-33-44-55\r\n"
      "MaximumMacAddress=00:11:22:33:FF:FF";
  const initest::IniRead r = ReadText(text);
  ASSERT_EQ(r.result, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.rs.SerialWriteBackPosition, static_cast<int32_t>(text.find("0000A0B1")));
  EXPECT_EQ(r.rs.SerialWriteBackLength, 8);
  EXPECT_EQ(r.rs.MacWriteBackPosition, static_cast<int32_t>(text.find("00-11-22")));
  EXPECT_EQ(r.rs.MacWriteBackLength, 17);
  EXPECT_EQ(*r.rs.CurrentSerialNumber, "0000A0B1");
  EXPECT_EQ(r.rs.MacAddressGiven, 1);
}

TEST(IniScan, WriteBackPositionIsRecordedForMalformedValues) {
  const std::string text = "[MacAddress]\nCurrentMacAddress=00:11:22:33:44:55 \n";
  const initest::IniRead r = ReadText(text);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, "WARNING: Ini file, invalid current MAC address format\n");
  EXPECT_EQ(r.rs.MacWriteBackPosition, 31);
  EXPECT_EQ(r.rs.MacWriteBackLength, 18);
  EXPECT_EQ(r.rs.MacAddressGiven, 0);
  EXPECT_EQ(r.rs.markers.Get("CurrentMacAddress"), kMalformed);
}

TEST(IniScan, UnreadablePaths) {
  test::TempDir dir;
  for (const std::string& path : {dir.File("missing.ini"), dir.path()}) {
    RunSettings rs;
    EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(ReadIniFile(path.c_str(), rs), -1) << path; }),
              "The file " + path + " is not found\n");
  }
}

}  // namespace
