// Sections whose final checks go beyond missing keys and simple limits:
// the polling intervals, the wake-up frame filter, the first two
// configuration-flags words and the OTP signature.
#include <iterator>

#include "core/output.h"
#include "core/parsers.h"
#include "config/ini_keys.h"
#include "config/ini_schema.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const IniNumericKey kPollIntervalKeys[] = {
    {"FSPollInterval", IniForm::kDecimal, 3, INI_FIELD(FSPollInterval),
     "Invalid Full speed interrupt polling interval.\n"},
    {"HSPollInterval", IniForm::kDecimal, 2, INI_FIELD(HSPollInterval),
     "Invalid High speed interrupt polling interval.\n"},
    {"SSPollInterval", IniForm::kDecimal, 2, INI_FIELD(SSPollInterval),
     "Invalid Super speed interrupt polling interval.\n"},
};

// One polling interval's final checks: present, not 0, at most `maximum`.
bool CheckInterval(const RunSettings& rs, const char* key, int32_t value, const char* speed,
                   int maximum) {
  if (rs.markers.Get(key) == kNotSeen) {
    PrintError("The field %s is missing\n", key);
    return false;
  }
  if (value == 0) {
    PrintError("%s speed interrupt polling interval cannot be 0.\n", speed);
    return false;
  }
  if (value > maximum) {
    PrintError("%s speed interrupt polling interval cannot exceed %d.\n", speed, maximum);
    return false;
  }
  return true;
}

const IniNumericKey kPmeWufKeys[] = {
    {"FilterAddressType", IniForm::kDecimal, 1, INI_FIELD(FilterAddressType),
     "Invalid FilterAddressType (0 - 2)\n", nullptr, "The field FilterAddressType is missing\n",
     "The field FilterAddressType range (0 - 2).\n", 2},
    {"FilterPatternOffset", IniForm::kDecimal, 3, INI_FIELD(FilterPatternOffset),
     "Invalid FilterPatternOffset (0 - 255)\n", nullptr,
     "The field FilterPatternOffset is missing\n",
     "The field FilterAddressType range (0 - 255).\n", 255},
    {"FilterCRC", IniForm::kHex, 4, INI_FIELD(FilterCRC), "Invalid FilterCRC.\n"},
};

const IniNumericKey kConfigFlags0Keys[] = {
    {"SWModeSuspendNSelect", IniForm::kDecimal, 1, INI_FIELD(SWModeSuspendNSelect),
     "Invalid SWModeSuspendNSelect or out of range (0-3)\n", nullptr,
     "The field SWModeSuspendNSelect is missing\n", "Invalid value for PortSwap(range 0-3)\n", 3},
    {"SWModePolarity", IniForm::kDecimal, 1, INI_FIELD(SWModePolarity),
     "Invalid SWModePolarity (range 0-1)\n", nullptr, "The field SWModePolarity is missing\n",
     "Invalid value for SWModePolarity(range 0-1)\n", 1},
    {"RemoteWakeupEnable", IniForm::kDecimal, 1, INI_FIELD(RemoteWakeupEnable),
     "Invalid RemoteWakeupEnable (range 0-1)\n", nullptr,
     "The field RemoteWakeupEnable is missing\n",
     "Invalid value for RemoteWakeupEnable(range 0-1)\n", 1},
    {"SelfPower", IniForm::kDecimal, 1, INI_FIELD(SelfPower), "Invalid SelfPower (range 0-1)\n",
     nullptr, "The field SelfPower is missing\n", "Invalid value for SelfPower(range 0-1)\n", 1},
    INI_OVERRIDE_KEY(ConfigFlags0Override, ConfigFlags0OverrideGiven, 10,
                     "Invalid ConfigFlags0Override, should be in the form '0xFFFFFFFF'\n"),
};

constexpr int kGenClkKey = 1;
const IniNumericKey kConfigFlags1Keys[] = {
    INI_OVERRIDE_KEY(ConfigFlags1Override, ConfigFlags1OverrideGiven, 10,
                     "Invalid ConfigFlags1Override, should be in the form '0xFFFFFFFF'\n"),
    {"GenCLK125Enable", IniForm::kDecimal, 1, INI_FIELD(GenCLK125Enable),
     "Invalid GenCLK125Enable (range 0-1)\n"},
};

constexpr const char* kInvalidOtpSignature = "Invalid OtpSignature, should be '0xF3' or '0xF7'\n";
const IniNumericKey kOtpConfigKeys[] = {
    {"OtpSignature", IniForm::kHex, 6, INI_FIELD(OtpSignature), kInvalidOtpSignature},
};

}  // namespace

int ParsePollIntervalSection(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    ReadNumericKeys(kPollIntervalKeys, std::size(kPollIntervalKeys), line, rs, malformed);
  });
  if (read < 0 || malformed) return -1;
  bool ok = CheckInterval(rs, "FSPollInterval", rs.FSPollInterval, "Full", 255);
  ok &= CheckInterval(rs, "HSPollInterval", rs.HSPollInterval, "High", 16);
  if (!ok) return -1;
  rs.markers.Complete("[InterruptPollInterval]");
  return 0;
}

int ParseFilterMaskPattern(RunSettings& rs) {
  rs.FilterMaskPatternBytes.fill(0);
  if (!rs.FilterMaskPattern.has_value()) return 0;
  const char* p = rs.FilterMaskPattern->c_str();
  while (IsBlank(*p)) ++p;
  size_t count = 0;
  int result = 0;
  while (*p != '\0') {
    const int high = HexDigitValue(p[0]);
    const int low = p[1] != '\0' ? HexDigitValue(p[1]) : -1;
    if (high < 0 || low < 0) {
      PrintError("Not hex digit for pattern\n");
      result = -1;
    }
    if (count == rs.FilterMaskPatternBytes.size()) {
      PrintError("FilterMaskPattern contains more than 128 bytes\n");
      return -1;
    }
    rs.FilterMaskPatternBytes[count++] =
        (high < 0 || low < 0) ? 0 : static_cast<uint8_t>(high << 4 | low);
    p += p[1] != '\0' ? 2 : 1;
    if (*p == '\0') break;
    if (!IsBlank(*p)) {
      PrintError("The pattern should be in the format \"1A 1B 1C 1D 1E 1D 1F 2A....\"\n");
      return -1;
    }
    while (IsBlank(*p)) ++p;
  }
  return result;
}

int ParsePmeWufSection(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    if (ReadNumericKeys(kPmeWufKeys, std::size(kPmeWufKeys), line, rs, malformed) >= 0) return;
    if (const char* value = GetKeyValue(line.buf, "FilterMaskPattern", line.first)) {
      rs.FilterMaskPattern = value;
      rs.markers.Set("FilterMaskPattern", kWellFormed);
    }
  });
  if (read < 0 || malformed) return -1;
  bool ok = CheckNumericKeys(kPmeWufKeys, std::size(kPmeWufKeys), IniFinalChecks::kEachKey, rs);
  if (rs.markers.Get("FilterMaskPattern") == kNotSeen) {
    PrintError("The field FilterMaskPattern is missing\n");
    return -1;
  }
  rs.FilterCRCAuto = rs.markers.Get("FilterCRC") == kNotSeen ? 1 : 0;
  if (ParseFilterMaskPattern(rs) != 0) {
    PrintError("FilterMaskPattern validation failed\n");
    ok = false;
  }
  if (!ok) return -1;
  rs.markers.Complete("[PMEWUFConfiguration]");
  return 0;
}

int ParseConfigFlags0Section(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    ReadNumericKeys(kConfigFlags0Keys, std::size(kConfigFlags0Keys), line, rs, malformed);
  });
  if (read < 0 || malformed) return -1;
  // A complete flags word makes the four named switches irrelevant.
  if (rs.ConfigFlags0OverrideGiven == 0 &&
      !CheckNumericKeys(kConfigFlags0Keys, std::size(kConfigFlags0Keys), IniFinalChecks::kEachKey,
                        rs)) {
    return -1;
  }
  rs.markers.Complete("[ConfigFlags0]");
  return 0;
}

int ParseConfigFlags1Section(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    bool line_malformed = false;
    const int key =
        ReadNumericKeys(kConfigFlags1Keys, std::size(kConfigFlags1Keys), line, rs, line_malformed);
    if (key == kGenClkKey && !line_malformed && rs.GenCLK125Enable != 0 &&
        rs.GenCLK125Enable != 1) {
      PrintError("GenCLK125Enable, should be 0 or 1\n");
      line_malformed = true;
    }
    malformed |= line_malformed;
  });
  return read < 0 || malformed ? -1 : 0;
}

int ParseOtpConfigSection(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    ReadNumericKeys(kOtpConfigKeys, std::size(kOtpConfigKeys), line, rs, malformed);
  });
  if (read < 0 || malformed) return -1;
  const int32_t signature = rs.OtpSignature;
  if (signature == 0) return 0;
  if (signature != 0xF3 && signature != 0xF7 && signature != 0xDEAD) {
    PrintError("%s", kInvalidOtpSignature);
    return -1;
  }
  // Invalidation cannot be expressed in an image file.
  if (signature == 0xDEAD && rs.TargetFileName.has_value()) {
    PrintError("With -z option the OtpSignature in the ini file cannot be 0xDEAD\n");
    return -1;
  }
  return 0;
}
