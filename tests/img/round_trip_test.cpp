// The decoder's proof: -z, decode, -z gives the same bytes for seeded random
// INI files of both layouts and all three image kinds, for the shipped
// examples and for the decoded golden images; the golden images themselves
// hold bytes no INI file gives, and the decoder names exactly those.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "img/decode.h"
#include "img/image.h"
#include "img/render.h"
#include "round_trip.h"
#include "support/tool_runner.h"

namespace {

int RoundTripCount() {
  const char* text = std::getenv("ORN_IMG_ROUNDTRIP_COUNT");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 3000;
}

TEST(RoundTrip, SeededRandomIniFilesOfEveryLayoutAndKind) {
  const int count = RoundTripCount();
  std::map<std::pair<bool, int>, int> covered;
  for (int seed = 1; seed <= count; ++seed) {
    const roundtrip::RandomIni ini = roundtrip::Generator(static_cast<uint32_t>(seed)).Make();
    const roundtrip::Outcome outcome = roundtrip::RoundTrip(ini);
    ASSERT_TRUE(outcome.ok) << outcome.failure;
    ++covered[{ini.model_5350, static_cast<int>(ini.kind)}];
  }
  // Both layouts times EEPROM, first and second OTP configuration.
  EXPECT_EQ(covered.size(), 6u);
  for (const auto& [combination, n] : covered) EXPECT_GT(n, count / 12) << combination.first << combination.second;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string text = test::ReadFile(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

// The in-process rendering is what orn5300cli -z writes, for generated and
// for decoded INI files.
TEST(RoundTrip, RenderingMatchesOrn5300cliImageFiles) {
  test::TempDir dir;
  for (int seed = 7; seed <= 3000; seed += 331) {
    const roundtrip::RandomIni ini = roundtrip::Generator(static_cast<uint32_t>(seed)).Make();
    img::RenderOptions options;
    options.otp = ini.kind != roundtrip::Kind::kEeprom;
    const img::Rendered rendered = img::RenderIniText(ini.text, options);
    ASSERT_TRUE(rendered.ok) << ini.text;
    test::WriteFile(dir.File("gen.ini"), ini.text);
    std::vector<std::string> args = {"-i", dir.File("gen.ini"), "-z", dir.File("gen.bin"), "-d",
                                      ini.model_5350 ? "ORN5350" : "ORN5300"};
    if (options.otp) args.push_back("-O");
    const test::RunResult r = test::RunCli(args);
    ASSERT_EQ(r.exit_code, 0) << r.out << ini.text;
    EXPECT_EQ(ReadBytes(dir.File("gen.bin")), rendered.file) << "seed " << seed;
  }
}

struct Example {
  const char* ini;
  const char* model;
  const char* extra;  // appended to the example
  bool otp;
};

// The shipped examples through the real tools: orn5300cli -z, orn5300img
// decode, orn5300cli -z, same bytes. A second OTP configuration must fit
// 256 bytes, which the ORN5300 example does not.
TEST(RoundTrip, ExamplesThroughBothTools) {
  const Example examples[] = {
      {"orn5300.ini", "ORN5300", "", false},
      {"orn5300.ini", "ORN5300", "", true},
      {"orn5350.ini", "ORN5350", "", false},
      {"orn5350.ini", "ORN5350", "", true},
      {"orn5350.ini", "ORN5350", "\n[OtpConfig]\nOtpSignature = 0xF7\n", true},
  };
  for (const Example& e : examples) {
    SCOPED_TRACE(std::string(e.ini) + " " + e.extra + (e.otp ? " -O" : ""));
    test::TempDir dir;
    test::WriteFile(dir.File("example.ini"),
                    test::ReadFile(std::string(ORN_SOURCE_DIR) + "/examples/" + e.ini) + e.extra);
    auto generate = [&](const std::string& ini, const std::string& target) {
      std::vector<std::string> args = {"-i", ini, "-z", target, "-d", e.model};
      if (e.otp) args.push_back("-O");
      const test::RunResult r = test::RunCli(args);
      EXPECT_EQ(r.exit_code, 0) << r.out;
    };
    generate(dir.File("example.ini"), dir.File("first.bin"));
    const test::RunResult decoded =
        test::Run(ORN_IMG_PATH, {"decode", dir.File("first.bin"), "-o", dir.File("decoded.ini")});
    ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
    EXPECT_EQ(decoded.out, "");
    EXPECT_EQ(decoded.err, "");
    generate(dir.File("decoded.ini"), dir.File("second.bin"));
    EXPECT_EQ(ReadBytes(dir.File("second.bin")), ReadBytes(dir.File("first.bin")));
  }
}

// Reads a golden fixture "OFFSET: BYTES  # comment".
std::vector<uint8_t> Golden(const std::string& name) {
  std::istringstream in(test::ReadFile(std::string(ORN_SOURCE_DIR) + "/tests/config/image_golden/" + name));
  std::vector<uint8_t> bytes;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream values(line.substr(colon + 1));
    std::string byte;
    while (values >> byte) bytes.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  }
  return bytes;
}

struct GoldenCase {
  const char* fixture;
  size_t size;
  std::vector<int> inexpressible;  // first offsets of the runs no INI file gives
  const char* note_key;
};

// The hand-made golden images hold what no INI file gives: the ORN5300 one
// has no serial number string, the ORN5350 one a wake-up pattern byte past
// what an INI line holds. Decode names exactly those bytes; the INI file it
// writes then goes round exactly.
TEST(RoundTrip, GoldenImages) {
  const GoldenCase cases[] = {
      {"orn5300_no_strings.hex", 192, {0x29, 0xC0}, "CurrentSerialNumber"},
      {"orn5350_typical.hex", 198, {0xC1}, "FilterMaskPattern"},
  };
  for (const GoldenCase& c : cases) {
    SCOPED_TRACE(c.fixture);
    img::Image image;
    image.raw = Golden(c.fixture);
    ASSERT_EQ(image.raw.size(), c.size);
    image.source_size = static_cast<long long>(c.size);
    img::ClassifyBytes(image, false, false);
    image.layout = img::DetectLayout(image);
    const img::DecodeResult first = img::DecodeImage(image, c.fixture);
    ASSERT_TRUE(first.ok) << first.error;
    std::vector<int> offsets;
    for (const img::ByteRun& run : first.differences) offsets.push_back(run.offset);
    EXPECT_EQ(offsets, c.inexpressible);
    ASSERT_EQ(first.notes.size(), 1u);
    EXPECT_EQ(first.notes[0].key, c.note_key);

    img::Image again;
    again.raw = first.rendered.file;
    again.source_size = static_cast<long long>(again.raw.size());
    img::ClassifyBytes(again, false, false);
    again.layout = img::DetectLayout(again);
    const img::DecodeResult second = img::DecodeImage(again, "again");
    ASSERT_TRUE(second.ok) << second.error;
    EXPECT_TRUE(second.differences.empty());
    EXPECT_EQ(second.rendered.file, first.rendered.file);
  }
}

}  // namespace
