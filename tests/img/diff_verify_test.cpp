// Field-level diff (identity, moved strings, ignored fields) and verify
// against a station's INI file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "img/diff.h"
#include "img/fields.h"
#include "img/layout_facts.h"
#include "img/verify.h"
#include "img_test_util.h"

namespace {

using img_test::Example;
using img_test::RenderImage;
using img_test::WithKey;

std::vector<std::string> Names(const std::vector<img::FieldChange>& changes) {
  std::vector<std::string> names;
  for (const img::FieldChange& c : changes) names.push_back(c.name + (c.identity ? " (identity)" : ""));
  return names;
}

struct DiffCase {
  const char* name;
  std::string changed;  // INI text of the new image
  img::DiffOptions options;
  std::vector<std::string> expected;
};

TEST(Diff, FieldsByName) {
  const std::string base = img_test::Full5300();
  img::DiffOptions identity;
  identity.ignore_identity = true;
  img::DiffOptions ignore_device;
  ignore_device.ignore = {"HighSpeedDevice", "SuperSpeedDevice.ProductID", "USB2ExtAttributes"};
  const std::string new_identity =
      WithKey(WithKey(base, "CurrentMacAddress", "00:80:0F:53:00:02"), "CurrentSerialNumber", "000000000002");
  const std::string longer_serial =
      WithKey(WithKey(base, "CurrentSerialNumber", "0000000000000002"), "MaximumSerialNumber", "FFFFFFFFFFFFFFFF");
  const DiffCase cases[] = {
      {"same", base, {}, {}},
      {"identity", new_identity, {}, {"CurrentMacAddress (identity)", "CurrentSerialNumber (identity)"}},
      {"identity ignored", new_identity, identity, {}},
      // Everything after the serial number moves; only the serial number
      // differs (its slot follows from its length).
      {"longer serial number", longer_serial, {}, {"CurrentSerialNumber (identity)"}},
      {"longer serial number ignored", longer_serial, identity, {}},
      {"product string", WithKey(base, "ProductString", "ORN5300 rev B"), identity, {"ProductString"}},
      {"string left out", WithKey(base, "InterfaceEnable", "0"), identity,
       {"SuperSpeedInterface.iInterface", "HighSpeedInterface.iInterface", "InterfaceString"}},
      {"product ID", WithKey(base, "ProductID", "0x5301"), {},
       {"SuperSpeedDevice.ProductID", "HighSpeedDevice.ProductID"}},
      {"fields ignored", WithKey(base, "ProductID", "0x5301"), ignore_device, {}},
      {"switch", WithKey(base, "LED2Enable", "1"), {}, {"LED2Enable"}},
  };
  const std::vector<img::Field> old_fields = img::ImageFields(RenderImage(base));
  for (const DiffCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<img::Field> new_fields = img::ImageFields(RenderImage(c.changed));
    EXPECT_EQ(Names(img::DiffFields(old_fields, new_fields, c.options)), c.expected);
  }
}

// A string's descriptor compares byte for byte: a changed length or type
// byte, or a character's high byte, shows though the characters read the
// same, with the bytes in the value.
TEST(Diff, EveryByteOfAStringCounts) {
  const img::Image base = RenderImage(Example("orn5300.ini"));
  const int manufacturer = img_test::SlotOffset(base, img::kSlotManufacturer);  // "ORN"
  struct Case {
    const char* name;
    int offset;
    uint8_t value;
    std::vector<std::string> expected;  // "name: old -> new"
  } cases[] = {
      {"type byte", manufacturer + 1, 0x02, {"ManufacturerString: \"ORN\" -> \"ORN\" (08 02 4F 00 52 00 4E 00)"}},
      {"high byte of a character", manufacturer + 5, 0x02,
       {"ManufacturerString: \"ORN\" -> \"ORN\" (08 03 4F 00 52 02 4E 00)"}},
      {"length byte in the descriptor", manufacturer, 0x06,
       {"ManufacturerString: \"ORN\" -> \"ORN\" (06 03 4F 00 52 00 4E 00)"}},
      {"odd length in the slot", img::kSlotManufacturer, 0x09,
       {"ManufacturerString.slot: 8 bytes at word 0x60 -> 9 bytes at word 0x60"}},
      {"fixed descriptor slot", img::kSlotBos + 1, 0x32, {"BOS.slot: 22 bytes at word 0x31 -> 22 bytes at word 0x32"}},
  };
  const std::vector<img::Field> old_fields = img::ImageFields(base);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = base.raw;
    bytes[static_cast<size_t>(c.offset)] = c.value;
    std::vector<std::string> shown;
    for (const img::FieldChange& change : img::DiffFields(old_fields, img::ImageFields(img_test::ImageOf(bytes)), {})) {
      shown.push_back(change.name + ": " + img::FieldValueText(*change.old_field) + " -> " +
                      img::FieldValueText(*change.new_field));
    }
    EXPECT_EQ(shown, c.expected);
  }
  // Bytes that no field holds, as in an image of no known layout, are
  // compared in runs of 16 named after their offset.
  std::vector<uint8_t> unknown(64, 0x11);
  unknown[0] = img::kSigEeprom;
  std::vector<uint8_t> changed = unknown;
  changed[0x28] = 0x12;
  EXPECT_EQ(Names(img::DiffFields(img::ImageFields(img_test::ImageOf(unknown)),
                                  img::ImageFields(img_test::ImageOf(changed)), {})),
            std::vector<std::string>{"Bytes.0x27"});
}

TEST(Diff, FieldValuesAsText) {
  const std::vector<img::Field> fields = img::ImageFields(RenderImage(Example("orn5300.ini")));
  auto value = [&](const std::string& name) {
    for (const img::Field& f : fields) {
      if (f.name == name) return img::FieldValueText(f);
    }
    return std::string("(missing)");
  };
  EXPECT_EQ(value("CurrentMacAddress"), "00:80:0F:53:00:01");
  EXPECT_EQ(value("ManufacturerString"), "\"ORN\"");
  EXPECT_EQ(value("HighSpeedDevice.VendorID"), "0x1F7B");
  EXPECT_EQ(value("SuperSpeedConfiguration.maxPower"), "896 mA");
  EXPECT_EQ(value("BOS.slot"), "22 bytes at word 0x31");
  EXPECT_EQ(value("PMEMagicPacketEnable"), "1");
  EXPECT_EQ(value("GPIOEnable"), "0x0000");
  EXPECT_EQ(value("Trailing"), "(missing)");
}

struct VerifyCase {
  const char* name;
  std::string station;     // the INI file verified against
  std::string source_ini;  // renders the source
  const char* identity;    // --identity, or null
  bool match;
  std::vector<std::string> failures;  // identity fields that fail, then mismatching fields
};

// The identity rules: by default not above the INI file's maximum (the
// current values are no lower bound, as after -N they name the next unit),
// serial numbers of the INI file's length and hexadecimal digits in either
// case; with an expected identity, exactly that.
TEST(Verify, StationIniAgainstProgrammedImages) {
  const std::string station = img_test::Full5300();
  auto identity = [](const std::string& ini, const char* mac, const char* serial) {
    return WithKey(WithKey(ini, "CurrentMacAddress", mac), "CurrentSerialNumber", serial);
  };
  // A unit's image, whatever the station's range.
  auto unit = [&identity](const std::string& ini, const char* mac, const char* serial) {
    return WithKey(WithKey(identity(ini, mac, serial), "MaximumMacAddress", "FE:FF:FF:FF:FF:FF"),
                   "MaximumSerialNumber", "FFFFFFFFFFFF");
  };
  const std::string stepped = identity(station, "00:80:0F:53:00:04", "000000000004");  // after three -N runs
  const std::string short_serial =
      WithKey(identity(station, "00:80:0F:53:00:01", "0c"), "MaximumSerialNumber", "0F");
  const std::string text_serial =
      WithKey(identity(station, "00:80:0F:53:00:01", "AB-CD"), "MaximumSerialNumber", "FFFFF");
  const VerifyCase cases[] = {
      {"the first device", station, station, nullptr, true, {}},
      {"a later device", station, identity(station, "00:80:0F:53:0A:00", "0000000000FF"), nullptr, true, {}},
      {"a unit programmed before -N stepped the file", stepped, station, nullptr, true, {}},
      {"MAC address above the maximum", station, unit(station, "00:80:0F:54:00:00", "000000000001"), nullptr,
       false, {"CurrentMacAddress"}},
      {"serial number above the maximum", station, unit(station, "00:80:0F:53:00:01", "000000010000"), nullptr,
       false, {"CurrentSerialNumber"}},
      {"serial number of another length",
       station, WithKey(identity(station, "00:80:0F:53:00:01", "0001"), "MaximumSerialNumber", "FFFF"), nullptr,
       false, {"CurrentSerialNumber"}},
      {"lower-case serial digits count as upper case", short_serial, short_serial, nullptr, true, {}},
      {"a serial number that is no hexadecimal number", text_serial, text_serial, nullptr, true, {}},
      {"the identity given", stepped, station, "00:80:0F:53:00:01,000000000001", true, {}},
      {"the identity given, the MAC address in lower case", station,
       identity(station, "00:80:0F:53:00:0A", "00000000000A"), "00800f53000a,00000000000A", true, {}},
      // The same serial number, but not the bytes that programming it gives.
      {"the identity given, serial digits in the other case", station,
       identity(station, "00:80:0F:53:00:0A", "00000000000A"), "00800F53000A,00000000000a", false,
       {"CurrentSerialNumber"}},
      {"another unit than the one given", stepped, station, "00:80:0F:53:00:02,000000000002", false,
       {"CurrentMacAddress", "CurrentSerialNumber"}},
      {"the MAC address given, the serial number by the range", station, station, "00:80:0F:53:00:01", true, {}},
      {"another LED word", station, WithKey(station, "LEDBehavior", "0x0001"), nullptr, false, {"LEDBehavior"}},
      {"a string left out", station, WithKey(station, "ConfigurationEnable", "0"), nullptr, false,
       {"SuperSpeedConfiguration.iConfiguration", "HighSpeedConfiguration.iConfiguration", "ConfigurationString"}},
  };
  test::TempDir dir;
  for (const VerifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFile(dir.File("station.ini"), c.station);
    img::VerifyOptions options;
    if (c.identity != nullptr) {
      img::ExpectedIdentity expected;
      std::string error;
      ASSERT_TRUE(img::ParseExpectedIdentity(c.identity, expected, error)) << error;
      options.identity = expected;
    }
    const img::VerifyReport report = img::VerifyAgainstIni(dir.File("station.ini"), RenderImage(c.source_ini), options);
    ASSERT_TRUE(report.error.empty()) << report.error;
    EXPECT_EQ(report.Match(), c.match) << report.problem;
    std::vector<std::string> failures;
    for (const img::IdentityCheck& id : report.identity) {
      if (!id.ok) failures.push_back(id.field);
    }
    for (const img::FieldChange& m : report.mismatches) failures.push_back(m.name);
    EXPECT_EQ(failures, c.failures);
  }
}

TEST(Verify, SourcesThatCannotHoldTheConfiguration) {
  const std::string small = Example("orn5350.ini");
  test::TempDir dir;
  test::WriteFile(dir.File("small.ini"), small);
  // An OTP second configuration verifies against an INI file without
  // OtpSignature, as the write command would have resolved it.
  const std::string second = small + "\n[OtpConfig]\nOtpSignature = 0xF7\n";
  const img::VerifyReport otp = img::VerifyAgainstIni(dir.File("small.ini"), RenderImage(second, true));
  EXPECT_TRUE(otp.Match()) << otp.error << otp.problem;

  struct Case {
    const char* name;
    img::Image source;
    const char* problem;
  } cases[] = {
      {"the other layout", RenderImage(img_test::Full5300()), "the INI file programs the ORN5350 layout; the source "
                                                              "holds the ORN5300 layout (generating the EEPROM image"},
      {"a blank EEPROM", img_test::ImageOf(std::vector<uint8_t>(512, 0xFF)), "the EEPROM is blank (every byte 0xFF)"},
      {"an empty OTP", img_test::ImageOf(std::vector<uint8_t>(512, 0x00), true),
       "the source holds no configuration: empty OTP (0x00)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const img::VerifyReport report = img::VerifyAgainstIni(dir.File("small.ini"), c.source);
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.problem.rfind(c.problem, 0), 0u) << report.problem;
    EXPECT_TRUE(report.identity.empty());
    EXPECT_TRUE(report.mismatches.empty());
    EXPECT_FALSE(report.Match());
  }
  // An INI file that validates in no layout cannot be verified against:
  // the reader's reason is in the error.
  test::WriteFile(dir.File("broken.ini"), img_test::WithKey(small, "HSPollInterval", "99"));
  const img::VerifyReport broken = img::VerifyAgainstIni(dir.File("broken.ini"), RenderImage(small));
  EXPECT_EQ(broken.error.rfind(dir.File("broken.ini") + ": the INI file was refused: ", 0), 0u) << broken.error;
}

}  // namespace
