// Structural checks: every image -z makes passes; each kind of damage gives
// its finding; the OTP target rules of the write command.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "img/check.h"
#include "img/layout_facts.h"
#include "img_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using img_test::ImageOf;
using img_test::Render;

std::set<std::string> FindingFields(const img::CheckReport& report) {
  std::set<std::string> fields;
  for (const img::Finding& f : report.findings) fields.insert(f.field);
  return fields;
}

TEST(Check, ImagesTheToolMakesAreSound) {
  const std::string otp_second = img_test::Example("orn5350.ini") + "\n[OtpConfig]\nOtpSignature = 0xF7\n";
  struct Case {
    std::string ini;
    bool otp;
    const char* description;
  } cases[] = {
      {img_test::Full5300(), false, "ORN5300 EEPROM image, 352 bytes"},
      {img_test::Example("orn5350.ini"), false, "ORN5350 EEPROM image, 230 bytes"},
      {img_test::Example("orn5300.ini"), true, "ORN5300 OTP first configuration (0xF3), 276 bytes"},
      {otp_second, true, "ORN5350 OTP second configuration (0xF7), 230 bytes"},
  };
  for (const Case& c : cases) {
    const img::CheckReport report = img::CheckImage(ImageOf(Render(c.ini, c.otp)));
    EXPECT_EQ(report.description, c.description);
    EXPECT_TRUE(report.findings.empty()) << c.description << ": " << report.findings[0].message;
  }
}

struct Damage {
  const char* name;
  std::function<void(Bytes&, const img::Image&)> patch;
  std::set<std::string> fields;
};

int At(const img::Image& image, int slot) { return img_test::SlotOffset(image, slot); }

TEST(Check, EachDamageHasItsFinding) {
  const Bytes full = Render(img_test::Full5300());
  const img::Image image = ImageOf(full);
  const Damage damages[] = {
      {"signature", [](Bytes& b, const img::Image&) { b[0] = 0x00; }, {"Signature"}},
      {"group MAC", [](Bytes& b, const img::Image&) { b[1] = 0x01; }, {"CurrentMacAddress"}},
      {"zero MAC", [](Bytes& b, const img::Image&) { std::fill(b.begin() + 1, b.begin() + 7, 0); }, {"CurrentMacAddress"}},
      {"BOS slot", [](Bytes& b, const img::Image&) { b[0x30] = 0x32; }, {"BOS.slot"}},
      {"high-speed device slot", [](Bytes& b, const img::Image&) { b[0x36] = 0x50; }, {"HighSpeedDevice.slot"}},
      {"string past the end", [](Bytes& b, const img::Image&) { b[0x28] = 0xF0; }, {"ProductString.slot"}},
      {"string type", [](Bytes& b, const img::Image& i) { b[static_cast<size_t>(At(i, 0x27) + 1)] = 0x04; },
       {"ProductString"}},
      {"wide character", [](Bytes& b, const img::Image& i) { b[static_cast<size_t>(At(i, 0x27) + 3)] = 0x01; },
       {"ProductString"}},
      {"odd string length", [](Bytes& b, const img::Image&) { b[0x27] |= 1; }, {"ProductString.slot", "ProductString"}},
      {"no serial number", [](Bytes& b, const img::Image&) { b[0x29] = b[0x2A] = 0; }, {"CurrentSerialNumber.slot"}},
      {"blank in the serial number", [](Bytes& b, const img::Image& i) { b[static_cast<size_t>(At(i, 0x29) + 4)] = ' '; },
       {"CurrentSerialNumber"}},
      {"manufacturer index", [](Bytes& b, const img::Image&) { b[0x9C + 14] = 0; }, {"HighSpeedDevice.iManufacturer"}},
      {"attributes", [](Bytes& b, const img::Image&) { b[0xAE + 7] |= 1; }, {"HighSpeedConfiguration.attributes"}},
      {"power", [](Bytes& b, const img::Image&) { b[0x8A + 8] = 200; }, {"SuperSpeedConfiguration.maxPower"}},
      {"interface", [](Bytes& b, const img::Image&) { b[0xB7 + 1] = 0x05; }, {"HighSpeedInterface.header"}},
      {"BOS capability", [](Bytes& b, const img::Image&) { b[0x67] = 8; }, {"BOS.header"}},
      {"LPM bits", [](Bytes& b, const img::Image&) { b[0x6A] &= ~0x06; }, {"USB2ExtAttributes"}},
      {"filter checksum", [](Bytes& b, const img::Image& i) {
         const size_t at = static_cast<size_t>(At(i, 0x3D));
         std::fill(b.begin() + static_cast<long>(at) + 4, b.begin() + static_cast<long>(at) + 20, 0);
         b[at] = 0x12;  // an empty pattern has checksum 0x7FDF
       },
       {"WakeFilter.crc"}},
      {"filter control", [](Bytes& b, const img::Image& i) { b[static_cast<size_t>(At(i, 0x3D) + 3)] = 0x03; },
       {"WakeFilter.control"}},
      {"filter switched off", [](Bytes& b, const img::Image&) { b[0x0A] &= ~1; }, {"WakeFilter.slot"}},
      {"block length", [](Bytes& b, const img::Image&) { b[0x3F] = 23; }, {"LTMBELT.slot"}},
            // The block's old bytes are now behind the end of the image.
      {"blocks overlap", [](Bytes& b, const img::Image&) { b[0x42] = b[0x40]; }, {"CommonTestBus", "Trailing"}},
      {"bytes after the image", [](Bytes& b, const img::Image&) { b.resize(512, 0); b[400] = 1; }, {"Trailing"}},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    Bytes bytes = full;
    d.patch(bytes, image);
    const img::CheckReport report = img::CheckImage(ImageOf(bytes));
    EXPECT_EQ(FindingFields(report), d.fields);
    for (const img::Finding& f : report.findings) {
      ASSERT_GE(f.offset, 0);
      ASSERT_LE(static_cast<size_t>(f.offset + f.size), bytes.size());
      EXPECT_EQ(f.raw, Bytes(bytes.begin() + f.offset, bytes.begin() + f.offset + f.size));
    }
  }
}

// One rule set with the decoder: every byte decode cannot give from an INI
// file is a finding of check, named by its field; every image -z writes
// passes, the short ones that -b refuses with a note.
TEST(Check, WhatDecodeCannotGiveIsAFinding) {
  const Bytes image = Render(img_test::Example("orn5300.ini"));
  struct Case {
    const char* name;
    std::function<void(Bytes&)> patch;
    std::vector<std::pair<int, std::string>> findings;  // offset and field
  } cases[] = {
      {"language ID", [](Bytes& b) { b[0x23] = 0x07; }, {{0x23, "LanguageID"}}},
      {"SuperSpeed vendor ID of its own", [](Bytes& b) { b[0x78 + 8] ^= 1; }, {{0x80, "SuperSpeedDevice.VendorID"}}},
      {"reserved LED bits", [](Bytes& b) { b[0x0B] |= 0x10; }, {{0x0B, "Reserved0B"}}},
      {"reserved PME bit", [](Bytes& b) { b[0x0A] |= 0x80; }, {{0x0A, "Reserved0A"}}},
      {"SuperSpeed interval 223", [](Bytes& b) { b[0x12] = 223; }, {{0x12, "SSPollInterval"}}},
      {"GPIO bit 12", [](Bytes& b) { b[0x49] |= 0x10; }, {{0x49, "GPIOData"}}},
      // The MAC address has its own finding; decode's stand-in is not repeated.
      {"group MAC address and language ID", [](Bytes& b) { b[1] |= 1; b[0x23] = 0x07; },
       {{0x01, "CurrentMacAddress"}, {0x23, "LanguageID"}}},
  };
  img::DecodeMemo memo;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = image;
    c.patch(bytes);
    for (img::DecodeMemo* m : {static_cast<img::DecodeMemo*>(nullptr), &memo, &memo}) {
      const img::CheckReport report = img::CheckImage(ImageOf(bytes), m);
      std::vector<std::pair<int, std::string>> found;
      for (const img::Finding& f : report.findings) found.emplace_back(f.offset, f.field);
      EXPECT_EQ(found, c.findings);
    }
  }

  // ORN5350 images without strings but the serial number: shorter than the
  // 192 bytes orn5300cli -b takes, yet what -z writes.
  std::string bare = img_test::Example("orn5350.ini");
  for (const char* key : {"ManufacturerEnable", "ProductEnable"}) bare = img_test::WithKey(bare, key, "0");
  const img::CheckReport short_image = img::CheckImage(ImageOf(Render(bare)));
  EXPECT_EQ(short_image.description, "ORN5350 EEPROM image, 172 bytes");
  EXPECT_TRUE(short_image.findings.empty()) << short_image.findings[0].message;
  ASSERT_EQ(short_image.notes.size(), 1u);
  EXPECT_NE(short_image.notes[0].find("orn5300cli -b takes binary files of at least 192 bytes"), std::string::npos);
}

TEST(Check, WholeImageFindings) {
  Bytes long_file = Render(img_test::Example("orn5300.ini"));
  long_file.resize(600, 0);
  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  } cases[] = {
      {"blank EEPROM", Bytes(512, 0xFF), "blank"},
      {"too long", long_file, "600 bytes, more than the EEPROM holds"},
      {"short", Bytes(long_file.begin(), long_file.begin() + 150), "inside the fixed header"},
      {"no layout", Bytes(200, 0xA5), "layout is not recognised"},
  };
  for (const Case& c : cases) {
    const img::CheckReport report = img::CheckImage(ImageOf(c.bytes));
    ASSERT_FALSE(report.findings.empty()) << c.name;
    bool found = false;
    for (const img::Finding& f : report.findings) found = found || f.message.find(c.message) != std::string::npos;
    EXPECT_TRUE(found) << c.name << ": " << report.findings[0].message;
  }
}

// An OTP dump: the OTP bytes as the device holds them.
Bytes Otp(const Bytes& first, const Bytes& second = {}) {
  Bytes otp(512, 0);
  std::copy(first.begin(), first.end(), otp.begin());
  if (!second.empty()) {
    otp[0] = 0xF7;
    std::copy(second.begin() + 257, second.end(), otp.begin() + 257);
  }
  return otp;
}

TEST(Check, OtpStateAndTargets) {
  const std::string small = img_test::Example("orn5350.ini");
  const Bytes first = Render(small, true);
  const Bytes second = Render(small + "\n[OtpConfig]\nOtpSignature = 0xF7\n", true);
  const Bytes large_first = Render(img_test::Full5300(), true);  // beyond 256 bytes
  Bytes conflicting = Otp(first);
  conflicting[300] = 0xFF;

  struct Case {
    const char* name;
    Bytes otp;
    Bytes target;
    const char* state;    // start of the OTP state
    const char* finding;  // "" for none
  } cases[] = {
      {"empty, first", Bytes(512, 0), first, "empty", ""},
      {"empty, second", Bytes(512, 0), second, "empty", "must be a first configuration"},
      {"first, second", Otp(first), second, "first configuration (0xF3) using 230 bytes", ""},
      {"first, first", Otp(first), first, "first configuration", "must be a second configuration"},
      {"first too large", Otp(large_first), second, "first configuration (0xF3) using 352 bytes", "no second one"},
      {"full", Otp(first, second), second, "second configuration", "the OTP is full"},
      {"invalidated", Bytes(512, 0xFF), first, "invalidated", "allows no write"},
      {"bit to clear", conflicting, second, "first configuration", "would need a bit cleared, first at OTP offset 0x12C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const img::Image otp = ImageOf(c.otp, true);
    img::CheckReport report = img::CheckImage(otp);
    EXPECT_EQ(report.otp_state.rfind(c.state, 0), 0u) << report.otp_state;
    const size_t before = report.findings.size();
    img::CheckOtpTarget(otp, ImageOf(c.target), report);
    if (c.finding[0] == '\0') {
      EXPECT_EQ(report.findings.size(), before) << report.findings.back().message;
    } else {
      bool found = false;
      for (size_t i = before; i < report.findings.size(); ++i) {
        found = found || report.findings[i].message.find(c.finding) != std::string::npos;
      }
      EXPECT_TRUE(found);
    }
  }
}

}  // namespace
