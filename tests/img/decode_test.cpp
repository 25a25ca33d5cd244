// The decoder on images that hold what no INI file gives: every such byte
// is named (offset and bytes) and the INI text still validates; and on the
// corners of what an INI file can give.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "img/decode.h"
#include "img/layout_facts.h"
#include "img_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using img_test::ImageOf;
using img_test::Render;

struct Mutation {
  const char* name;
  std::function<void(Bytes&, const img::Image&)> patch;
  std::vector<int> runs;  // first offsets of the differing runs
  const char* note_key;   // the note that explains it, "" for none
};

TEST(Decode, NamesEveryByteNoIniFileGives) {
  const Bytes full = Render(img_test::Full5300());
  const img::Image original = ImageOf(full);
  const int filter = img_test::SlotOffset(original, img::kSlotWakeFilter);
  const int manufacturer = img_test::SlotOffset(original, img::kSlotManufacturer);
  const Mutation mutations[] = {
      {"unchanged", [](Bytes&, const img::Image&) {}, {}, ""},
      {"flags word without switches", [](Bytes& b, const img::Image&) { b[0x14] = 0x12; }, {}, ""},
      {"group MAC address", [](Bytes& b, const img::Image&) { b[1] |= 1; }, {0x01}, "CurrentMacAddress"},
      {"GPIO bit 12", [](Bytes& b, const img::Image&) { b[0x49] |= 0x10; }, {0x49}, "GPIOData"},
      {"SuperSpeed interval 0", [](Bytes& b, const img::Image&) { b[0x12] = 0; }, {0x12}, "SSPollInterval"},
      {"reserved PME bit", [](Bytes& b, const img::Image&) { b[0x0A] |= 0x80; }, {0x0A}, ""},
      {"bcdDevice low byte", [](Bytes& b, const img::Image&) { b[0x9C + 12] = 1; }, {0xA8}, ""},
      {"bcdDevice not decimal", [](Bytes& b, const img::Image&) { b[0x9C + 13] = 0x1A; b[0x78 + 13] = 0x1A; },
       {0x85, 0xA9}, "BcdDevice"},
      {"one clock bit", [](Bytes& b, const img::Image&) { b[0x19] = (b[0x19] & ~0x30) | 0x10; }, {0x19},
       "GenCLK125Enable"},
      {"LPM bits disagree", [](Bytes& b, const img::Image&) { b[0x6A] &= ~0x06; }, {0x6A}, "USB2ExtAttributes"},
      {"address type 3", [filter](Bytes& b, const img::Image&) { b[static_cast<size_t>(filter + 3)] = 0x83; },
       {filter + 3}, "FilterAddressType"},
      {"vendor ID 0", [](Bytes& b, const img::Image&) { b[0x80] = b[0x81] = b[0xA4] = b[0xA5] = 0; },
       {0x80, 0xA4}, "VendorID"},
      {"power above 500 mA", [](Bytes& b, const img::Image&) { b[0xAE + 8] = 0xFF; }, {0xB6}, "HSMaxPower"},
      {"descriptors disagree", [](Bytes& b, const img::Image&) { b[0x78 + 10] ^= 1; }, {0x82}, ""},
      {"leading blank", [manufacturer](Bytes& b, const img::Image&) { b[static_cast<size_t>(manufacturer + 2)] = ' '; },
       {manufacturer + 2}, "ManufacturerString"},
      {"trailing garbage", [](Bytes& b, const img::Image&) { b.push_back(0); b.push_back(0x5A); },
       {static_cast<int>(full.size()) + 1}, ""},
      {"no serial number", [](Bytes& b, const img::Image&) { b[0x29] = b[0x2A] = 0; }, {0x29}, "CurrentSerialNumber"},
  };
  for (const Mutation& m : mutations) {
    SCOPED_TRACE(m.name);
    Bytes bytes = full;
    m.patch(bytes, original);
    const img::DecodeResult result = img::DecodeImage(ImageOf(bytes), "test");
    ASSERT_TRUE(result.ok) << result.error;
    std::vector<int> runs;
    for (const img::ByteRun& run : result.differences) runs.push_back(run.offset);
    if (std::string(m.name) == "no serial number") {
      // The stand-in serial number moves everything after it.
      ASSERT_FALSE(runs.empty());
      EXPECT_EQ(runs.front(), 0x29);
    } else {
      EXPECT_EQ(runs, m.runs);
    }
    if (m.note_key[0] == '\0') {
      EXPECT_TRUE(result.notes.empty()) << result.notes[0].message;
    } else {
      ASSERT_EQ(result.notes.size(), 1u);
      EXPECT_EQ(result.notes[0].key, m.note_key);
      // The INI text says so, where the key stands when it is written.
      EXPECT_NE(result.ini.find(result.notes[0].message + "\n"), std::string::npos);
    }
    for (const img::ByteRun& run : result.differences) {
      for (size_t i = 0; i < run.source.size(); ++i) {
        EXPECT_EQ(run.source[i], bytes[static_cast<size_t>(run.offset) + i]);
      }
    }
  }
}

// Slots may claim more string bytes than any image holds; the strings are
// left out from the last until the INI file renders.
TEST(Decode, StringsThatDoNotFitAreLeftOut) {
  Bytes dump = Render(img_test::Full5300());
  dump.resize(512, 0x41);
  for (int slot : {0x25, 0x27, 0x2B, 0x2D}) {
    dump[static_cast<size_t>(slot)] = 254;
    dump[static_cast<size_t>(slot + 1)] = 0x60;
  }
  const img::DecodeResult result = img::DecodeImage(ImageOf(dump), "test");
  ASSERT_TRUE(result.ok) << result.error;
  // A 254-byte string with the rest of the image leaves no room: all four go.
  std::vector<std::string> dropped;
  for (const img::DecodeNote& note : result.notes) {
    if (note.message.find("an image holds at most 512") != std::string::npos) dropped.push_back(note.key);
  }
  EXPECT_EQ(dropped, (std::vector<std::string>{"InterfaceString", "ConfigurationString", "ProductString",
                                               "ManufacturerString"}));
  EXPECT_FALSE(result.differences.empty());
}

// Values at the edge of what the INI reader keeps.
TEST(Decode, TextValuesTheReaderKeepsByteForByte) {
  struct Case {
    const char* key;
    std::string value;
  } cases[] = {
      {"ManufacturerString", "ends in a carriage return\r"},
      {"ManufacturerString", "two\r\r"},
      {"ProductString", "trailing blanks  \t"},
      {"ProductString", "# = [not a header]"},
      {"ProductString", std::string("Caf\xE9 \xFF")},
      {"CurrentSerialNumber", "ab-CD.1\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::string ini = img_test::WithKey(img_test::Example("orn5300.ini"), c.key, c.value);
    // A carriage return before the line feed needs a second one.
    if (c.value.back() == '\r') ini = img_test::WithKey(ini, c.key, c.value + "\r");
    if (std::string(c.key) == "CurrentSerialNumber") {
      ini = img_test::WithKey(ini, "MaximumSerialNumber", std::string(c.value.size(), 'F'));
    }
    const Bytes bytes = Render(ini);
    const img::DecodeResult result = img::DecodeImage(ImageOf(bytes), "test");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.differences.empty());
    EXPECT_EQ(result.rendered.file, bytes);
  }
}

TEST(Decode, KeysTheImageDoesNotCarryAreMarked) {
  const img::DecodeResult result = img::DecodeImage(ImageOf(Render(img_test::Example("orn5350.ini"))), "x.bin");
  ASSERT_TRUE(result.ok);
  EXPECT_NE(result.ini.find("# Not carried by the image: written so that the file validates.\n"
                            "MaximumMacAddress = FE:FF:FF:FF:FF:FF\nMacAddressIncrement = 1\n"),
            std::string::npos);
  EXPECT_NE(result.ini.find("-d ORN5350\n# generates the same image bytes."), std::string::npos);
  // The ORN5350 layout has no SuperSpeed keys to write.
  EXPECT_EQ(result.ini.find("SSPollInterval"), std::string::npos);
  EXPECT_EQ(result.ini.find("SSMaxPower"), std::string::npos);
}

TEST(Decode, RefusesSourcesWithoutConfiguration) {
  struct Case {
    Bytes bytes;
    bool otp;
    const char* error;
  } cases[] = {
      {Bytes(512, 0x00), true, "no configuration"},
      {Bytes(512, 0xFF), true, "no configuration"},
      {Bytes(512, 0xFF), false, "layout"},
      {Bytes(10, 0xA5), false, "layout"},
  };
  for (const Case& c : cases) {
    const img::DecodeResult result = img::DecodeImage(ImageOf(c.bytes, c.otp), "x");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
  }
}

TEST(Decode, CompareBytesSplitsAtTheEndOfTheSource) {
  const std::vector<img::ByteRun> runs = img::CompareBytes({1, 2, 3, 0, 7}, {1, 9, 3, 0, 0, 5, 6});
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].offset, 1);
  EXPECT_EQ(runs[0].source, Bytes{2});
  EXPECT_EQ(runs[1].offset, 4);  // 7 where the INI renders 0
  EXPECT_EQ(runs[1].rendered, Bytes{0});
  EXPECT_EQ(runs[2].offset, 5);  // beyond the source
  EXPECT_TRUE(runs[2].source.empty());
  EXPECT_EQ(runs[2].rendered, (Bytes{5, 6}));
  // Zeros after the rendered image are what a write leaves there.
  EXPECT_TRUE(img::CompareBytes({1, 0, 0}, {1}).empty());
}

}  // namespace
