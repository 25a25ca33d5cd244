// Every byte counts: seeded random INI files of both layouts and all three
// image kinds are rendered as -z writes them; each image passes check and
// verifies against its INI file; then every byte of the image is changed,
// one at a time, and verify must fail for each change while diff names a
// field that holds the changed byte and shows the values differ. For some
// of the changes, check and decode must agree: check passes exactly the
// images that decode gives back byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "img/check.h"
#include "img/decode.h"
#include "img/diff.h"
#include "img/fields.h"
#include "img/layout_facts.h"
#include "img/verify.h"
#include "img_test_util.h"
#include "random_ini.h"

namespace {

int ImageCount() {
  const char* text = std::getenv("ORN_IMG_EVERY_BYTE_COUNT");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 48;
}

std::string Hex(uint8_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", v);
  return text;
}

// Why diff does not name a change of byte `k`, or empty when it does.
std::string DiffMisses(const std::vector<img::FieldChange>& changes, int k) {
  for (const img::FieldChange& c : changes) {
    for (const auto* f : {&c.old_field, &c.new_field}) {
      if (!*f || (*f)->offset > k || (*f)->offset + (*f)->size <= k) continue;
      const bool shown = !c.old_field || !c.new_field ||
                         img::FieldValueText(*c.old_field) != img::FieldValueText(*c.new_field);
      return shown ? "" : c.name + " differs but prints the same value";
    }
  }
  std::string names;
  for (const img::FieldChange& c : changes) names += " " + c.name;
  return "no difference names the byte (differences:" + names + ")";
}

// Reads a file as the QA engineer names it: an EEPROM image (--eeprom) or
// an OTP file (--otp), whatever its first byte says.
img::Image ReadAs(const std::vector<uint8_t>& file, bool otp) {
  img::Image image;
  image.name = "image.bin";
  image.raw = file;
  image.source_size = static_cast<long long>(file.size());
  img::ClassifyBytes(image, otp, !otp);
  image.layout = img::DetectLayout(image);
  return image;
}

TEST(EveryByte, EachChangedByteFailsVerifyAndShowsInDiff) {
  const int count = ImageCount();
  test::TempDir dir;
  const std::string path = dir.File("station.ini");
  std::map<std::pair<bool, int>, int> covered;
  int changes = 0;
  int agreements = 0;
  for (int seed = 1; seed <= count; ++seed) {
    const roundtrip::RandomIni ini = roundtrip::Generator(static_cast<uint32_t>(9000 + seed)).Make();
    SCOPED_TRACE("seed " + std::to_string(ini.seed) + "\n" + ini.text);
    ++covered[{ini.model_5350, static_cast<int>(ini.kind)}];
    test::WriteFile(path, ini.text);
    img::RenderOptions options;
    options.otp = ini.kind != roundtrip::Kind::kEeprom;
    const img::Rendered rendered = img::RenderIniFile(path, options);
    ASSERT_TRUE(rendered.ok) << rendered.error;

    // The image as -z wrote it: sound, and what the INI file programs.
    const img::Image gold = ReadAs(rendered.file, options.otp);
    const img::CheckReport check = img::CheckImage(gold);
    ASSERT_TRUE(check.findings.empty()) << check.findings[0].field << ": " << check.findings[0].message;
    img::RenderCache cache;
    img::VerifyOptions by_range;
    by_range.cache = &cache;
    ASSERT_TRUE(img::VerifyAgainstIni(path, gold, by_range).Match());
    img::ExpectedIdentity identity;
    std::copy(gold.bytes.begin() + 1, gold.bytes.begin() + 7, identity.mac.begin());
    identity.serial = rendered.current_serial;
    img::VerifyOptions exact = by_range;
    exact.identity = identity;
    ASSERT_TRUE(img::VerifyAgainstIni(path, gold, exact).Match());
    // The INI file decode writes verifies against the image it came from.
    const img::DecodeResult decoded = img::DecodeImage(gold, "gold");
    ASSERT_TRUE(decoded.ok && decoded.differences.empty()) << decoded.error;
    test::WriteFile(dir.File("decoded.ini"), decoded.ini);
    const img::VerifyReport again = img::VerifyAgainstIni(dir.File("decoded.ini"), gold);
    ASSERT_TRUE(again.Match()) << again.problem << (again.identity.empty() ? "" : again.identity.back().message);

    // The identity's own bytes, which the range check may accept changed:
    // another unit of the series holds other ones.
    const int serial_at = img_test::SlotOffset(gold, img::kSlotSerial);
    auto identity_byte = [&](int k) {
      return (k >= 1 && k <= 6) ||
             (k >= serial_at + 2 && k < serial_at + gold.bytes[img::kSlotSerial] && (k - serial_at) % 2 == 0);
    };

    const std::vector<img::Field> gold_fields = img::ImageFields(gold);
    std::mt19937 random(static_cast<uint32_t>(seed));
    for (int k = 0; k < static_cast<int>(gold.bytes.size()); ++k) {
      const size_t at = ini.kind == roundtrip::Kind::kOtpSecond && k > 0 ? static_cast<size_t>(k + img::kSecondFormGap)
                                                                         : static_cast<size_t>(k);
      std::vector<uint8_t> file = rendered.file;
      const uint8_t before = file[at];
      file[at] = static_cast<uint8_t>(before ^ (1 + random() % 255));
      const std::string change = "byte " + std::to_string(k) + " " + Hex(before) + " -> " + Hex(file[at]);
      const img::Image changed = ReadAs(file, options.otp);
      ++changes;

      const std::string missed = DiffMisses(img::DiffFields(gold_fields, img::ImageFields(changed), {}), k);
      EXPECT_EQ(missed, "") << change;
      // By the range every byte but the identity's own fails; those fail
      // against the identity given.
      if (identity_byte(k)) {
        EXPECT_FALSE(img::VerifyAgainstIni(path, changed, exact).Match()) << change << " passes verify --identity";
      } else {
        EXPECT_FALSE(img::VerifyAgainstIni(path, changed, by_range).Match()) << change << " passes verify";
      }
      // Decoding renders through a file: a sample of the changes.
      if (random() % 24 == 0) {
        const img::DecodeResult decoded = img::DecodeImage(changed, "changed");
        const bool exact = decoded.ok && decoded.differences.empty();
        const img::CheckReport report = img::CheckImage(changed);
        EXPECT_EQ(report.findings.empty(), exact)
            << change << (exact ? ": check finds " + report.findings[0].message : ": decode gives other bytes");
        ++agreements;
      }
      if (HasFailure()) return;
    }
  }
  // Both layouts times EEPROM, first and second OTP configuration.
  EXPECT_EQ(covered.size(), 6u);
  EXPECT_GT(changes, count * 150);
  EXPECT_GT(agreements, changes / 50);
}

}  // namespace
