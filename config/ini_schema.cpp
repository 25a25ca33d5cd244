// The section table and the checks over the whole INI configuration.
#include "config/ini_schema.h"

#include <cstring>

#include "core/output.h"

const IniSectionRow kIniSectionTable[] = {
    {"[MacAddress]", ParseMacAddressSection},
    {"[SerialNumber]", ParseSerialNumberSection},
    {"[String]", ParseStringSection},
    {"[ID]", ParseIdSection},
    {"[Power]", ParsePowerSection},
    {"[GPIOPME0]", ParseGpioPme0Section},
    {"[GPIOPME1]", ParseGpioPme1Section},
    {"[LEDConfig0]", ParseLedConfig0Section},
    {"[LEDConfig1]", ParseLedConfig1Section},
    {"[LEDConfig2]", ParseLedConfig2Section},
    {"[LEDBehaviorConfig]", ParseLedBehaviorSection},
    {"[GPIOConfig]", ParseGpioConfigSection},
    {"[InterruptPollInterval]", ParsePollIntervalSection},
    {"[PMEWUFConfiguration]", ParsePmeWufSection},
    {"[ConfigFlags0]", ParseConfigFlags0Section},
    {"[ConfigFlags1]", ParseConfigFlags1Section},
    {"[ConfigFlags2]", ParseConfigFlags2Section},
    {"[ConfigFlags3]", ParseConfigFlags3Section},
    {"[ConfigFlags4]", ParseConfigFlags4Section},
    {"[ConfigFlags5]", ParseConfigFlags5Section},
    {"[OtpConfig]", ParseOtpConfigSection},
    {"[LTMBELTConfig]", ParseLtmBeltSection},
    {"[CommonTestBusConfig]", ParseCommonTestBusSection},
    {"[USBTestConfig]", ParseUsbTestSection},
    {"[USB2ExtensionConfig]", ParseUsb2ExtensionSection},
    {"[USB3ExtensionConfig]", ParseUsb3ExtensionSection},
    {"", nullptr},
};

const IniSectionRow* FindIniSection(const char* header) {
  for (const IniSectionRow* row = kIniSectionTable; row->name[0] != '\0'; ++row) {
    if (std::strcmp(row->name, header) == 0) return row;
  }
  return nullptr;
}

namespace {

// The required sections in the order their absence is reported.
const char* const kRequiredSections[] = {
    "[MacAddress]",        "[SerialNumber]",      "[String]",
    "[ID]",                "[Power]",             "[GPIOPME0]",
    "[GPIOPME1]",          "[LEDConfig0]",        "[LEDConfig1]",
    "[LEDConfig2]",        "[LEDBehaviorConfig]", "[GPIOConfig]",
    "[ConfigFlags0]",      "[PMEWUFConfiguration]", "[InterruptPollInterval]",
};

constexpr uint32_t kUsb2ExtLpmBit = 0x2;
constexpr uint32_t kConfigFlags0LpmBit = 0x4;

}  // namespace

int CheckIniSections(const RunSettings& rs) {
  bool ok = true;
  for (const char* section : kRequiredSections) {
    if (rs.markers.Completed(section)) continue;
    PrintError("Missing %s section in the ini file\n", section);
    ok = false;
  }

  // The LPM bit of the USB 2.0 extension descriptor must agree with the
  // LPM bit of the configuration flags (on when the flags are not given).
  if (rs.USB2ExtAttributesGiven != 0) {
    const bool ext_lpm = (rs.USB2ExtAttributes & kUsb2ExtLpmBit) != 0;
    const bool flags_given = rs.ConfigFlags0OverrideGiven != 0;
    const bool flags_lpm = (rs.ConfigFlags0Override & kConfigFlags0LpmBit) != 0;
    if (flags_given && flags_lpm != ext_lpm) {
      PrintError(
          "The LPM setting in the ConfigFlags0Override and LPM setting in USB2ExtAttributes do not "
          "match\n");
      ok = false;
    } else if (!flags_given && !ext_lpm) {
      PrintError(
          "By default LPM is set. This LMP setting do not match with the USB2ExtAttributes LPM "
          "setting\n");
      ok = false;
    }
  }
  return ok ? 0 : -1;
}

int CheckGpioWakeConfig(const RunSettings& rs) {
  for (int n = 0; n < 12; ++n) {
    const unsigned bit = 1u << n;
    if ((rs.GPIOWake & bit) == 0) continue;
    if ((rs.GPIOEnable & bit) == 0) {
      PrintError(
          "When GPIOWake is enabled for perticular GPIO the GPIOEnable need to be set for that "
          "GPIO\n");
      return -1;
    }
    if ((rs.GPIODirection & bit) != 0) {
      PrintError(
          "When GPIOWake is enabled for perticular GPIO the GPIODirection need to be set as "
          "Input for that GPIO\n");
      return -1;
    }
  }
  return 0;
}
