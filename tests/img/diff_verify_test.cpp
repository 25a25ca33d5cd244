// Field-level diff (identity, moved strings, ignored fields) and verify
// against a station's INI file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "img/diff.h"
#include "img/fields.h"
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
  std::string source_ini;  // renders the source
  bool otp;
  bool match;
  std::vector<std::string> failures;  // identity fields out of range, then mismatching fields
};

TEST(Verify, StationIniAgainstProgrammedImages) {
  const std::string station = img_test::Full5300();
  const std::string small = Example("orn5350.ini");
  test::TempDir dir;
  test::WriteFile(dir.File("station.ini"), station);
  test::WriteFile(dir.File("small.ini"), small);
  const VerifyCase cases[] = {
      {"the first device", station, false, true, {}},
      {"a later device", WithKey(WithKey(station, "CurrentMacAddress", "00:80:0F:53:0A:00"), "CurrentSerialNumber",
                                 "0000000000FF"),
       false, true, {}},
      {"MAC address below the range", WithKey(station, "CurrentMacAddress", "00:80:0F:52:FF:FF"), false, false,
       {"CurrentMacAddress"}},
      {"serial number of another length",
       WithKey(WithKey(station, "CurrentSerialNumber", "0001"), "MaximumSerialNumber", "FFFF"), false, false,
       {"CurrentSerialNumber"}},
      {"another LED word", WithKey(station, "LEDBehavior", "0x0001"), false, false, {"LEDBehavior"}},
      {"a string left out", WithKey(station, "ConfigurationEnable", "0"), false, false,
       {"SuperSpeedConfiguration.iConfiguration", "HighSpeedConfiguration.iConfiguration", "ConfigurationString"}},
  };
  for (const VerifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    const img::VerifyReport report = img::VerifyAgainstIni(dir.File("station.ini"), RenderImage(c.source_ini, c.otp));
    ASSERT_TRUE(report.rendered) << report.error;
    EXPECT_EQ(report.Match(), c.match);
    std::vector<std::string> failures;
    for (const img::IdentityCheck& id : report.identity) {
      if (!id.ok) failures.push_back(id.field);
    }
    for (const img::FieldChange& m : report.mismatches) failures.push_back(m.name);
    EXPECT_EQ(failures, c.failures);
  }

  // An OTP second configuration verifies against an INI file without
  // OtpSignature, as the write command would have resolved it.
  const std::string second = small + "\n[OtpConfig]\nOtpSignature = 0xF7\n";
  const img::VerifyReport otp = img::VerifyAgainstIni(dir.File("small.ini"), RenderImage(second, true));
  EXPECT_TRUE(otp.Match()) << otp.error;
  // The other layout's INI file does not render for this source.
  const img::VerifyReport other = img::VerifyAgainstIni(dir.File("small.ini"), RenderImage(station));
  EXPECT_FALSE(other.rendered);
  EXPECT_NE(other.error.find("ORN5300 layout of the source"), std::string::npos) << other.error;
}

}  // namespace
