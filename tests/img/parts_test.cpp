// The small parts of orn5300img: the argument parser, source names, the
// JSON writer's escaping, reading bytes as images, the EEPROM size from a
// read, and the wake-up filter pattern solver.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "img/filter_pattern.h"
#include "img/image.h"
#include "img/img_cli.h"
#include "img/json_writer.h"
#include "img/layout_facts.h"
#include "img/sources.h"
#include "img_test_util.h"

namespace {

struct ArgsCase {
  std::vector<std::string> args;
  const char* error;  // "" when the arguments are accepted
};

TEST(ImgArgs, AcceptedAndRefused) {
  const ArgsCase cases[] = {
      {{"decode", "a.bin"}, ""},
      {{"--json", "decode", "a.bin", "-o", "a.ini"}, ""},
      {{"decode", "a.bin", "--output=a.ini", "--model", "orn5350"}, ""},
      {{"check", "a.bin", "b.bin", "c.ini", "--otp", "--target", "next.ini"}, ""},
      {{"diff", "a.bin", "b.bin", "--ignore", "identity,LEDBehavior"}, ""},
      {{"verify", "--ini=station.ini", "device:1", "--eeprom-size", "256"}, ""},
      {{"check", "--", "--odd-name.bin"}, ""},
      {{"--help"}, ""},
      {{}, "no command given"},
      {{"show", "a.bin"}, "unknown command 'show'"},
      {{"decode", "a.bin", "--jsn"}, "unknown option --jsn"},
      {{"decode", "a.bin", "-x"}, "unknown option -x"},
      {{"decode", "a.bin", "-o"}, "option -o needs a value"},
      {{"decode", "a.bin", "--json=yes"}, "option --json takes no value"},
      {{"decode", "a.bin", "b.bin"}, "decode takes one source"},
      {{"decode"}, "decode takes one source"},
      {{"check"}, "check takes at least one source"},
      {{"diff", "a.bin"}, "diff takes two sources"},
      {{"verify", "device"}, "verify needs --ini STATION.ini"},
      {{"verify", "--ini", "s.ini", "a", "b"}, "verify takes one source"},
      {{"check", "a.bin", "-o", "x"}, "option --output does not apply to check"},
      {{"decode", "a.bin", "--ini", "x"}, "option --ini does not apply to decode"},
      {{"check", "a.bin", "--otp", "--eeprom"}, "--otp and --eeprom exclude each other"},
      {{"check", "a.bin", "--model", "ORN530A"}, "--model takes ORN5300, ORN5301 or ORN5350, not 'ORN530A'"},
      {{"check", "device", "--eeprom-size", "128"}, "--eeprom-size takes 256 or 512, not '128'"},
      {{"diff", "a", "b", "--ignore", "identity,,x"}, "--ignore takes 'identity' or field names separated by commas"},
  };
  for (const ArgsCase& c : cases) {
    img::ImgOptions options;
    std::string error;
    const bool ok = img::ParseImgArgs(c.args, options, error);
    EXPECT_EQ(ok, c.error[0] == '\0') << c.args.size() << " " << error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(ImgArgs, Values) {
  img::ImgOptions o;
  std::string error;
  ASSERT_TRUE(img::ParseImgArgs({"diff", "--model=ORN5301", "a", "b", "--ignore", "identity,X.y", "--ignore=Z"}, o, error));
  EXPECT_EQ(o.command, "diff");
  EXPECT_EQ(o.sources, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(o.source.model, img::Layout::k5300);
  EXPECT_TRUE(o.ignore_identity);
  EXPECT_EQ(o.ignore, (std::vector<std::string>{"X.y", "Z"}));
}

TEST(SourceRef, Kinds) {
  struct Case {
    const char* text;
    img::SourceType type;
    const char* path;
    int adapter;
    bool ok;
  } cases[] = {
      {"a.bin", img::SourceType::kFile, "a.bin", -1, true},
      {"station.INI", img::SourceType::kIni, "station.INI", -1, true},
      {"ini:station.txt", img::SourceType::kIni, "station.txt", -1, true},
      {"bin:x.ini", img::SourceType::kFile, "x.ini", -1, true},
      {"device", img::SourceType::kDevice, "", -1, true},
      {"device:2", img::SourceType::kDevice, "", 2, true},
      {"./device", img::SourceType::kFile, "./device", -1, true},
      {"device:", img::SourceType::kDevice, "", -1, false},
      {"device:-1", img::SourceType::kDevice, "", -1, false},
      {"device:1x", img::SourceType::kDevice, "", -1, false},
      {"ini:", img::SourceType::kIni, "", -1, false},
  };
  for (const Case& c : cases) {
    img::SourceRef ref;
    std::string error;
    EXPECT_EQ(img::ParseSourceRef(c.text, ref, error), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(ref.type, c.type) << c.text;
    EXPECT_EQ(ref.path, c.path) << c.text;
    EXPECT_EQ(ref.adapter, c.adapter) << c.text;
  }
}

TEST(JsonWriter, Escaping) {
  using E = img::JsonWriter::TextEncoding;
  struct Case {
    std::string text;
    E encoding;
    const char* json;
  } cases[] = {
      {"plain", E::kUtf8, "\"plain\""},
      {"q\"b\\s/", E::kUtf8, "\"q\\\"b\\\\s/\""},
      {std::string("\n\r\t\b\f\x01\x1f\x7f", 8), E::kUtf8, "\"\\n\\r\\t\\b\\f\\u0001\\u001f\\u007f\""},
      {std::string("nul\0x", 5), E::kUtf8, "\"nul\\u0000x\""},
      {"caf\xC3\xA9", E::kUtf8, "\"caf\\u00e9\""},
      {"\xE2\x82\xAC", E::kUtf8, "\"\\u20ac\""},
      {"\xF0\x9F\x98\x80", E::kUtf8, "\"\\ud83d\\ude00\""},
      {"bad \xE9 byte", E::kUtf8, "\"bad \\u00e9 byte\""},
      {"\xC0\xAF", E::kUtf8, "\"\\u00c0\\u00af\""},           // overlong
      {"\xED\xA0\x80", E::kUtf8, "\"\\u00ed\\u00a0\\u0080\""},  // a surrogate
      {"\xE2\x82", E::kUtf8, "\"\\u00e2\\u0082\""},           // cut short
      {"caf\xC3\xA9", E::kBytes, "\"caf\\u00c3\\u00a9\""},
      {"I\xE9\xFF", E::kBytes, "\"I\\u00e9\\u00ff\""},
  };
  for (const Case& c : cases) EXPECT_EQ(img::JsonWriter::Quote(c.text, c.encoding), c.json);
}

TEST(JsonWriter, Structure) {
  img::JsonWriter j;
  j.BeginObject();
  j.Member("a", 1);
  j.Key("b");
  j.BeginArray();
  j.Number(-2);
  j.Unsigned(3000000000u);
  j.Null();
  j.BeginObject();
  j.EndObject();
  j.BeginArray();
  j.EndArray();
  j.EndArray();
  j.Member("c", true);
  j.Member("d", "x");
  j.EndObject();
  EXPECT_EQ(j.str(), "{\"a\":1,\"b\":[-2,3000000000,null,{},[]],\"c\":true,\"d\":\"x\"}");
}

TEST(ImageBytes, ClassifyAndBounds) {
  struct Case {
    std::vector<uint8_t> raw;
    bool otp;
    bool eeprom;
    img::ImageKind kind;
    size_t image_bytes;
  } cases[] = {
      {{0xA5, 1, 2}, false, false, img::ImageKind::kEeprom, 3},
      {{0xF3, 1, 2}, false, false, img::ImageKind::kOtpFirst, 3},
      {{0xF3, 1, 2}, false, true, img::ImageKind::kEeprom, 3},
      {std::vector<uint8_t>(300, 0xF7), false, false, img::ImageKind::kOtpSecond, 300 - 256},
      {{0xF7}, false, false, img::ImageKind::kOtpSecond, 1},
      {{0x00, 5}, true, false, img::ImageKind::kOtpEmpty, 2},
      {{0xFF, 5}, true, false, img::ImageKind::kOtpInvalidated, 2},
      {{0x12, 5}, true, false, img::ImageKind::kOtpInvalid, 2},
      {{}, false, false, img::ImageKind::kEeprom, 0},
      {std::vector<uint8_t>(1024, 0xA5), false, false, img::ImageKind::kEeprom, 546},
  };
  for (const Case& c : cases) {
    img::Image image;
    image.raw = c.raw;
    img::ClassifyBytes(image, c.otp, c.eeprom);
    EXPECT_EQ(image.kind, c.kind) << c.raw.size();
    EXPECT_EQ(image.bytes.size(), c.image_bytes) << c.raw.size();
  }
  const std::vector<uint8_t> bytes = {1, 2, 3};
  const img::ByteView view(bytes);
  EXPECT_TRUE(view.Has(1, 2));
  EXPECT_TRUE(view.Has(3, 0));
  EXPECT_FALSE(view.Has(2, 2));
  EXPECT_FALSE(view.Has(-1, 1));
  EXPECT_FALSE(view.Has(1, -1));
  EXPECT_EQ(view.U16(2), 3);  // the byte past the end reads as 0
  EXPECT_EQ(view.U32(-5), 0u);
  EXPECT_EQ(view.Slice(2, 10), std::vector<uint8_t>{3});
}

TEST(ImageBytes, LayoutDetection) {
  const std::vector<uint8_t> e5300 = img_test::Render(img_test::Example("orn5300.ini"));
  const std::vector<uint8_t> e5350 = img_test::Render(img_test::Example("orn5350.ini"));
  EXPECT_EQ(img_test::ImageOf(e5300).layout, img::Layout::k5300);
  EXPECT_EQ(img_test::ImageOf(e5350).layout, img::Layout::k5350);
  // With the BOS slot lost, the BOS descriptor or the device slot still tell.
  std::vector<uint8_t> damaged = e5350;
  damaged[0x2F] = 0;
  EXPECT_EQ(img_test::ImageOf(damaged).layout, img::Layout::k5350);
  damaged[0x64] = 0;
  EXPECT_EQ(img_test::ImageOf(damaged).layout, img::Layout::k5350);
  damaged[0x36] = 0;
  EXPECT_EQ(img_test::ImageOf(damaged).layout, img::Layout::kUnknown);
  EXPECT_EQ(img_test::ImageOf(std::vector<uint8_t>(512, 0xFF)).layout, img::Layout::kUnknown);
}

TEST(ImageBytes, EepromSizeFromARead) {
  const std::vector<uint8_t> image = img_test::Render(img_test::Example("orn5350.ini"));  // 230 bytes
  std::vector<uint8_t> written(512, 0);  // a 512-byte part: the image, then zeros
  std::copy(image.begin(), image.end(), written.begin());
  std::vector<uint8_t> mirrored(512, 0);  // a 256-byte part read as 512
  std::copy(image.begin(), image.end(), mirrored.begin());
  std::copy(mirrored.begin(), mirrored.begin() + 256, mirrored.begin() + 256);
  struct Case {
    std::vector<uint8_t> read;
    int size;
    bool certain;
  } cases[] = {
      {written, 512, true},
      {mirrored, 256, true},
      {std::vector<uint8_t>(512, 0xFF), 512, false},  // blank: either size
  };
  for (const Case& c : cases) {
    bool certain = true;
    EXPECT_EQ(img::EepromSizeFromRead(c.read, certain), c.size);
    EXPECT_EQ(certain, c.certain);
  }
}

TEST(FilterPattern, SolvesForMaskAndChecksum) {
  std::mt19937 random(42);
  for (int round = 0; round < 200; ++round) {
    // A pattern with 0 to 20 nonzero bytes anywhere.
    img::FilterPattern pattern{};
    const int count = static_cast<int>(random() % 21);
    for (int i = 0; i < count; ++i) pattern[random() % 128] = static_cast<uint8_t>(1 + random() % 255);
    const img::FilterMask mask = img::MaskOfPattern(pattern);
    const uint16_t crc = img::FilterCrc(pattern.data());
    const std::optional<img::FilterPattern> solved = img::SolveFilterPattern(mask, crc);
    ASSERT_TRUE(solved) << round;
    EXPECT_EQ(img::MaskOfPattern(*solved), mask);
    EXPECT_EQ(img::FilterCrc(solved->data()), crc);
  }
  // An empty pattern has one checksum; one masked byte reaches at most 255.
  img::FilterMask none{};
  EXPECT_TRUE(img::SolveFilterPattern(none, 0x7FDF));
  EXPECT_FALSE(img::SolveFilterPattern(none, 0x7FDE));
  img::FilterMask one{};
  one[0] = 1;
  int reachable = 0;
  for (uint32_t crc = 0; crc < 0x10000; crc += 1) reachable += img::SolveFilterPattern(one, static_cast<uint16_t>(crc)) ? 1 : 0;
  EXPECT_EQ(reachable, 255);
}

}  // namespace
