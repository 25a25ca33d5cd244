// The identity sections: MAC address, serial number, USB strings, USB
// identifiers and power.
#include <climits>
#include <cstring>
#include <iterator>

#include "core/output.h"
#include "core/parsers.h"
#include "config/ini_keys.h"
#include "config/ini_schema.h"

namespace {

// Notes where a value stands in the file for the in-place write-back. The
// record keeps 32-bit positions; a value beyond them cannot be written back
// safely, so it fails the section instead of being truncated.
bool RecordWriteBack(const IniKeyLine& line, const char* value, const char* key,
                     int32_t& position, int32_t& length) {
  const long offset = line.start + (value - line.buf);
  if (line.start < 0 || offset > INT32_MAX) {
    PrintError("Ini file, the %s value stands too far into the file\n", key);
    return false;
  }
  position = static_cast<int32_t>(offset);
  length = static_cast<int32_t>(std::strlen(value));
  return true;
}

void MarkMalformed(RunSettings& rs, const char* key, bool& malformed) {
  rs.markers.Set(key, kMalformed);
  malformed = true;
}

bool CheckRequired(const RunSettings& rs, const char* key, const char* message) {
  if (rs.markers.Get(key) != kNotSeen) return true;
  PrintError("%s", message);
  return false;
}

// A decimal increment of at most 3 digits and at most 255: its value, or -1
// after the key's warning.
int ReadIncrement(char* value, const char* malformed, const char* zero, const char* too_large) {
  if (CheckDecimalValue(value, 3) != 0) {
    PrintWarning("%s", malformed);
    return -1;
  }
  const int increment = static_cast<int>(DecimalTextValue(value));
  if (increment == 0 && zero != nullptr) {
    PrintWarning("%s", zero);
    return -1;
  }
  if (increment > 255) {
    PrintWarning("%s", too_large);
    return -1;
  }
  return increment;
}

}  // namespace

int ParseMacAddressSection(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    if (char* value = GetKeyValue(line.buf, "CurrentMacAddress", line.first)) {
      if (!RecordWriteBack(line, value, "CurrentMacAddress", rs.MacWriteBackPosition,
                           rs.MacWriteBackLength)) {
        MarkMalformed(rs, "CurrentMacAddress", malformed);
        return;
      }
      MacAddress mac{};
      if (ParseMacAddress(value, mac) != 0) {
        PrintWarning("Ini file, invalid current MAC address format\n");
        MarkMalformed(rs, "CurrentMacAddress", malformed);
        return;
      }
      rs.CurrentMacAddress = mac;
      rs.MacAddressGiven = 1;
      rs.markers.Set("CurrentMacAddress", kWellFormed);
    } else if (char* value = GetKeyValue(line.buf, "MaximumMacAddress", line.first)) {
      MacAddress mac{};
      if (ParseMacAddress(value, mac) != 0) {
        PrintError("Ini file, invalid maximum MAC address format\n");
        MarkMalformed(rs, "MaximumMacAddress", malformed);
        return;
      }
      const bool all_zero = mac == MacAddress{};
      if ((mac[0] & 0x01) != 0 || all_zero) {
        PrintError("Invalid max mac address\n");
        MarkMalformed(rs, "MaximumMacAddress", malformed);
        return;
      }
      rs.MaximumMacAddress = mac;
      rs.markers.Set("MaximumMacAddress", kWellFormed);
    } else if (char* value = GetKeyValue(line.buf, "MacAddressIncrement", line.first)) {
      const int increment =
          ReadIncrement(value, "Ini file, invalid mac address increment or out of range\n",
                        "Ini file, mac address increment is zero in the ini file\n",
                        "Ini file, mac address increment is out of range in the ini file\n");
      if (increment < 0) {
        MarkMalformed(rs, "MacAddressIncrement", malformed);
        return;
      }
      rs.MacAddressIncrement = increment;
      rs.markers.Set("MacAddressIncrement", kWellFormed);
    }
  });
  if (read < 0 || malformed) return -1;
  bool ok = CheckRequired(rs, "CurrentMacAddress", "Ini file,  the field CurrentMacAddress is missing\n");
  ok &= CheckRequired(rs, "MaximumMacAddress", "Ini file, the field MaximumMacAddress is missing\n");
  ok &= CheckRequired(rs, "MacAddressIncrement",
                      "Ini file, the field MacAddressIncrement is missing\n");
  if (!ok) return -1;
  rs.markers.Complete("[MacAddress]");
  return 0;
}

int ParseSerialNumberSection(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    if (char* value = GetKeyValue(line.buf, "CurrentSerialNumber", line.first)) {
      TruncateAtBlank(value);
      if (!RecordWriteBack(line, value, "CurrentSerialNumber", rs.SerialWriteBackPosition,
                           rs.SerialWriteBackLength)) {
        MarkMalformed(rs, "CurrentSerialNumber", malformed);
        return;
      }
      if (std::strlen(value) > kMaxSerialNumberLength) {
        PrintWarning("Ini file: Current serial number size is greater than %d\n",
                     kMaxSerialNumberLength);
        MarkMalformed(rs, "CurrentSerialNumber", malformed);
        return;
      }
      rs.CurrentSerialNumber = value;
      rs.markers.Set("CurrentSerialNumber", kWellFormed);
    } else if (char* value = GetKeyValue(line.buf, "MaximumSerialNumber", line.first)) {
      TruncateAtBlank(value);
      if (std::strlen(value) > kMaxSerialNumberLength) {
        PrintWarning("Ini file, maximum serial number size is greater than %d\n",
                     kMaxSerialNumberLength);
        MarkMalformed(rs, "MaximumSerialNumber", malformed);
        return;
      }
      rs.MaximumSerialNumber = value;
      rs.markers.Set("MaximumSerialNumber", kWellFormed);
    } else if (char* value = GetKeyValue(line.buf, "SerialNumberIncrement", line.first)) {
      const int increment =
          ReadIncrement(value, "Ini file, invalid serial number increment or out of range\n",
                        nullptr, "Ini file, serial number increment is out of range\n");
      if (increment < 0) {
        MarkMalformed(rs, "SerialNumberIncrement", malformed);
        return;
      }
      rs.SerialNumberIncrement = increment;
      rs.markers.Set("SerialNumberIncrement", kWellFormed);
    }
  });
  if (read < 0 || malformed) return -1;
  bool ok = CheckRequired(rs, "CurrentSerialNumber",
                          "Ini file, the field CurrentSerialNumber is missing\n");
  ok &= CheckRequired(rs, "MaximumSerialNumber",
                      "Ini file, the field MaximumSerialNumber is missing\n");
  ok &= CheckRequired(rs, "SerialNumberIncrement",
                      "Ini file, the field SerialNumberIncrement is missing\n");
  if (!ok) return -1;
  rs.markers.Complete("[SerialNumber]");
  return 0;
}

namespace {

struct UsbString {
  const char* string_key;
  const char* enable_key;
  OptText RunSettings::*field;
  const char* malformed_enable;
  const char* missing_enable;
  const char* enable_range;
  const char* missing_string;
};

#define INI_USB_STRING(name)                                                             \
  UsbString {                                                                            \
    #name "String", #name "Enable", &RunSettings::name##String,                          \
        "Invalid " #name "Enable(range 0-1)\n", "The field " #name "Enable is missing\n", \
        "Invalid value for the field " #name "Enable (range 0-1)\n",                     \
        "The field " #name "String is missing\n"                                          \
  }

const UsbString kUsbStrings[] = {
    INI_USB_STRING(Manufacturer),
    INI_USB_STRING(Product),
    INI_USB_STRING(Configuration),
    INI_USB_STRING(Interface),
};

}  // namespace

int ParseStringSection(std::FILE* file, RunSettings& rs) {
  // The enable values are not kept in the record: after an earlier
  // occurrence of the section a string is present exactly when it was
  // enabled, which is what a repeated section starts from.
  int32_t enable[4] = {};
  for (int i = 0; i < 4; ++i) {
    const UsbString& s = kUsbStrings[i];
    enable[i] = rs.markers.Get(s.enable_key) != kNotSeen && (rs.*s.field).has_value() ? 1 : 0;
  }
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    for (const UsbString& s : kUsbStrings) {
      const char* value = GetKeyValue(line.buf, s.string_key, line.first);
      if (value == nullptr) continue;
      // A string descriptor holds at most 126 characters; a longer one
      // would be laid out with a wrapped length.
      if (std::strlen(value) > kMaxUsbStringLength) {
        PrintError("%s cannot be longer than %d characters\n", s.string_key, kMaxUsbStringLength);
        MarkMalformed(rs, s.string_key, malformed);
        return;
      }
      rs.*s.field = value;
      rs.markers.Set(s.string_key, kWellFormed);
      return;
    }
    for (int i = 0; i < 4; ++i) {
      const UsbString& s = kUsbStrings[i];
      char* value = GetKeyValue(line.buf, s.enable_key, line.first);
      if (value == nullptr) continue;
      if (ReadEnableValue(value, rs.markers, s.enable_key, enable[i], s.malformed_enable) != 0) {
        malformed = true;
      }
      return;
    }
  });
  if (read < 0 || malformed) return -1;
  bool ok = true;
  for (int i = 0; i < 4; ++i) {
    const UsbString& s = kUsbStrings[i];
    if (rs.markers.Get(s.enable_key) == kNotSeen) {
      PrintError("%s", s.missing_enable);
      ok = false;
    } else if (enable[i] > 1) {
      PrintError("%s", s.enable_range);
      ok = false;
    } else if (enable[i] == 1 && !(rs.*s.field).has_value()) {
      PrintError("%s", s.missing_string);
      ok = false;
    }
    if (enable[i] == 0) (rs.*s.field).reset();
  }
  if (!ok) return -1;
  rs.markers.Complete("[String]");
  return 0;
}

int ParseIdSection(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    if (char* value = GetKeyValue(line.buf, "VendorID", line.first)) {
      uint16_t id = 0;
      if (ParseHex16(value, id) != 0) {
        PrintError("Invalid vendor ID. Should be in the format 0x1F7B\n");
        MarkMalformed(rs, "VendorID", malformed);
      } else if (id == 0) {
        PrintError("Vendor ID cannot be 0\n");
        MarkMalformed(rs, "VendorID", malformed);
      } else {
        rs.VendorID = id;
        rs.markers.Set("VendorID", kWellFormed);
      }
    } else if (char* value = GetKeyValue(line.buf, "ProductID", line.first)) {
      uint16_t id = 0;
      if (ParseHex16(value, id) != 0) {
        PrintError("Invalid product ID. Should be in the format 0x5300\n");
        MarkMalformed(rs, "ProductID", malformed);
      } else {
        rs.ProductID = id;
        rs.markers.Set("ProductID", kWellFormed);
      }
    } else if (char* value = GetKeyValue(line.buf, "BcdDevice", line.first)) {
      if (CheckDecimalValue(value, 4) != 0) {
        PrintError("Invalid BcdDevice\n");
        MarkMalformed(rs, "BcdDevice", malformed);
        return;
      }
      // Each decimal digit is one nibble, the last digit the lowest. A
      // repeated key replaces the earlier value like every other key.
      uint16_t bcd = 0;
      for (const char* p = value; *p != '\0'; ++p) bcd = static_cast<uint16_t>(bcd << 4 | (*p - '0'));
      rs.BcdDevice = bcd;
      rs.markers.Set("BcdDevice", kWellFormed);
    }
  });
  if (read < 0 || malformed) return -1;
  bool ok = CheckRequired(rs, "VendorID", "The field VendorID is missing\n");
  ok &= CheckRequired(rs, "ProductID", "The field ProductID is missing\n");
  ok &= CheckRequired(rs, "BcdDevice", "The field BcdDevice is missing\n");
  if (!ok) return -1;
  rs.markers.Complete("[ID]");
  return 0;
}

namespace {

const IniNumericKey kPowerKeys[] = {
    {"SSMaxPower", IniForm::kDecimal, 3, INI_FIELD(SSMaxPower),
     "Invalid SSMaxPower or out of range (8 - 896)\n"},
    {"HSMaxPower", IniForm::kDecimal, 3, INI_FIELD(HSMaxPower),
     "Invalid HSMaxPower or out of range (2 - 500)\n"},
};

}  // namespace

int ParsePowerSection(std::FILE* file, RunSettings& rs) {
  bool malformed = false;
  const int read = ReadSectionKeyLines(file, [&](const IniKeyLine& line) {
    ReadNumericKeys(kPowerKeys, std::size(kPowerKeys), line, rs, malformed);
  });
  if (read < 0 || malformed) return -1;
  bool ok = CheckRequired(rs, "HSMaxPower", "The field HSMaxPower is missing\n");
  if (rs.HSMaxPower != 0 && rs.HSMaxPower < 2) {
    PrintError("HSMaxPower cannot be less than %dmA\n", 2);
    ok = false;
  }
  if (rs.HSMaxPower > 500) {
    PrintError("HSMaxPower exceed %dmA\n", 500);
    ok = false;
  }
  if (rs.HSMaxPower % 2 != 0) {
    PrintError("Max power should be even number\n");
    ok = false;
  }
  if (rs.SSMaxPower % 8 != 0) {
    PrintError("Max power should be divisible by 8\n");
    ok = false;
  }
  if (!ok) return -1;
  rs.markers.Complete("[Power]");
  return 0;
}
