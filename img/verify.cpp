#include "img/verify.h"

#include <algorithm>
#include <cstdio>

#include "img/layout_facts.h"

namespace img {

namespace {

constexpr size_t kMaxSerialLength = 16;

std::string MacText(const MacAddress& mac) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

bool IsHexText(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The serial number string of an image, when its slot names readable bytes.
bool ReadSerial(const Image& image, std::string& serial, int& offset) {
  const ByteView b(image.bytes);
  const int length = b.U8(kSlotSerial);
  if (length < 2) return false;
  const long at = 2L * (b.U8(kSlotSerial + 1) - BiasWords(image.kind));
  const int n = length / 2 - 1;
  if (at < 0 || !b.Has(at, 2L + 2L * n)) return false;
  serial.clear();
  for (int i = 0; i < n; ++i) serial.push_back(static_cast<char>(b.U8(at + 2 + 2L * i)));
  offset = static_cast<int>(at);
  return true;
}

std::string Printable(const std::string& text) {
  std::string out;
  char escaped[8];
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out.push_back(c);
    } else {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      out += escaped;
    }
  }
  return out;
}

std::optional<Field> FieldNamed(const std::vector<Field>& fields, const std::string& name) {
  for (const Field& f : fields) {
    if (f.name == name) return f;
  }
  return std::nullopt;
}

bool BlankEeprom(const Image& source) {
  return source.kind == ImageKind::kEeprom && !source.bytes.empty() &&
         std::all_of(source.bytes.begin(), source.bytes.end(), [](uint8_t v) { return v == 0xFF; });
}

}  // namespace

std::string SerialKey(const std::string& serial) {
  std::string key = serial;
  for (char& c : key) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

bool ParseExpectedIdentity(const std::string& text, ExpectedIdentity& identity, std::string& error) {
  error = "--identity takes a MAC address and optionally a serial number, MAC[,SERIAL], not '" + text + "'";
  identity = ExpectedIdentity{};
  const size_t comma = text.find(',');
  const std::string mac = text.substr(0, comma);
  std::string digits;
  if (mac.size() == 17) {
    const char separator = mac[2];
    if (separator != ':' && separator != '-') return false;
    for (size_t i = 0; i < mac.size(); ++i) {
      if (i % 3 == 2) {
        if (mac[i] != separator) return false;
      } else {
        digits.push_back(mac[i]);
      }
    }
  } else if (mac.size() == 12) {
    digits = mac;
  } else {
    return false;
  }
  if (!IsHexText(digits)) return false;
  for (size_t i = 0; i < identity.mac.size(); ++i) {
    identity.mac[i] = static_cast<uint8_t>(HexValue(digits[2 * i]) * 16 + HexValue(digits[2 * i + 1]));
  }
  if (comma != std::string::npos) {
    const std::string serial = text.substr(comma + 1);
    if (serial.empty() || serial.size() > kMaxSerialLength) {
      error = "--identity: the serial number after the comma has 1 to 16 characters, not '" + serial + "'";
      return false;
    }
    identity.serial = serial;
  }
  error.clear();
  return true;
}

bool VerifyReport::Match() const {
  if (!error.empty() || !problem.empty()) return false;
  for (const IdentityCheck& check : identity) {
    if (!check.ok) return false;
  }
  return mismatches.empty();
}

VerifyReport VerifyAgainstIni(const std::string& ini_path, const Image& source, const VerifyOptions& verify) {
  VerifyReport report;
  const std::string ini_name = verify.ini_name.empty() ? ini_path : verify.ini_name;
  auto render = [&](const RenderOptions& o) -> Rendered {
    return verify.cache != nullptr ? verify.cache->Get(ini_path, o) : RenderIniFile(ini_path, o);
  };
  const bool configuration = source.kind == ImageKind::kEeprom || source.kind == ImageKind::kOtpFirst ||
                             source.kind == ImageKind::kOtpSecond;
  RenderOptions options;
  options.layout = configuration ? source.layout : Layout::kUnknown;
  options.otp = source.otp_memory;
  options.otp_signature_default = source.kind == ImageKind::kOtpSecond ? kSigOtpSecond : kSigOtpFirst;
  if (source.source == SourceType::kDevice && !source.otp_memory) options.eeprom_size = source.memory_size;

  const Rendered plain = render(options);
  if (!plain.ok) {
    if (options.layout != Layout::kUnknown) {
      // An INI file of the other layout validates in its own: the source
      // does not hold what it programs.
      RenderOptions own = options;
      own.layout = Layout::kUnknown;
      const Rendered mine = render(own);
      if (mine.ok && mine.layout != options.layout) {
        report.problem = std::string("the INI file programs the ") + LayoutName(mine.layout) +
                         " layout; the source holds the " + LayoutName(source.layout) + " layout (" +
                         plain.error + ")";
        return report;
      }
    }
    report.error = ini_name + ": " + plain.error;
    if (options.layout != Layout::kUnknown) {
      report.error += std::string(" (rendered in the ") + LayoutName(source.layout) + " layout of the source)";
    }
    return report;
  }
  if (!configuration) {
    report.problem = std::string("the source holds no configuration: ") + KindName(source.kind);
    return report;
  }
  if (BlankEeprom(source)) {
    report.problem = "the EEPROM is blank (every byte 0xFF)";
    return report;
  }
  if (source.layout == Layout::kUnknown) {
    report.problem = "the layout of the source is not recognised (use --model ORN5300 or ORN5350)";
    return report;
  }

  const std::vector<Field> source_fields = ImageFields(source);
  const ByteView b(source.bytes);
  const ExpectedIdentity* expected = verify.identity ? &*verify.identity : nullptr;

  MacAddress mac{};
  for (size_t i = 0; i < mac.size(); ++i) mac[i] = b.U8(static_cast<long>(1 + i));
  const bool unicast = (mac[0] & 1) == 0 && mac != MacAddress{};
  IdentityCheck mac_check;
  mac_check.field = "CurrentMacAddress";
  mac_check.found = FieldNamed(source_fields, mac_check.field);
  if (!b.Has(1, 6)) {
    mac_check.message = "the source has no MAC address";
  } else {
    mac_check.offset = 1;
    mac_check.value = MacText(mac);
    if (expected != nullptr) {
      mac_check.rule = IdentityRule::kExact;
      mac_check.reference = MacText(expected->mac);
      mac_check.ok = mac == expected->mac;
      if (!mac_check.ok) mac_check.message = "the MAC address is not the one given, " + mac_check.reference;
    } else {
      mac_check.reference = MacText(plain.maximum_mac);
      if (!unicast) {
        mac_check.message = "the MAC address is not a unicast address";
      } else if (mac > plain.maximum_mac) {
        mac_check.message = "the MAC address lies above the INI file's maximum " + mac_check.reference;
      } else {
        mac_check.ok = true;
      }
    }
  }
  report.identity.push_back(mac_check);

  std::string serial;
  int serial_offset = -1;
  const bool has_serial = ReadSerial(source, serial, serial_offset);
  if (plain.current_serial || (expected != nullptr && expected->serial)) {
    IdentityCheck check;
    check.field = "CurrentSerialNumber";
    check.found = FieldNamed(source_fields, check.field);
    const std::string length_of = plain.maximum_serial.value_or(plain.current_serial.value_or(""));
    if (expected != nullptr && expected->serial) {
      check.rule = IdentityRule::kExact;
      check.reference = Printable(*expected->serial);
    } else {
      check.reference = Printable(length_of);
    }
    if (!has_serial) {
      check.message = "the source has no serial number string";
    } else {
      check.offset = serial_offset;
      check.value = Printable(serial);
      if (check.rule == IdentityRule::kExact) {
        check.ok = SerialKey(serial) == SerialKey(*expected->serial);
        if (!check.ok) check.message = "the serial number is not the one given, " + check.reference;
      } else if (serial.size() != length_of.size()) {
        check.message = "the serial number has " + std::to_string(serial.size()) + " characters; the INI file's have " +
                        std::to_string(length_of.size());
      } else if (plain.maximum_serial && IsHexText(serial) && IsHexText(*plain.maximum_serial) &&
                 SerialKey(serial) > SerialKey(*plain.maximum_serial)) {
        check.message = "the serial number lies above the INI file's maximum " + check.reference;
      } else {
        check.ok = true;
      }
    }
    report.identity.push_back(check);
  }

  // The INI file rendered with the source's identity in place, as -M and
  // -S would put it, so that everything else compares byte for byte.
  RenderOptions with_identity = options;
  with_identity.beyond_maximum = true;
  if (unicast) with_identity.mac = mac;
  if (has_serial && serial.size() <= kMaxSerialLength && plain.current_serial) with_identity.serial = serial;
  // The serial number given is the text programmed: a digit of the other
  // case is the same number but other bytes.
  if (expected != nullptr && expected->serial && has_serial && SerialKey(serial) == SerialKey(*expected->serial)) {
    with_identity.serial = *expected->serial;
  }
  const RenderOptions* chosen = &options;
  Rendered full = plain;
  if (with_identity.mac || with_identity.serial) {
    RenderOptions mac_only = with_identity;
    mac_only.serial.reset();
    RenderOptions serial_only = with_identity;
    serial_only.mac.reset();
    for (const RenderOptions* attempt : {&with_identity, &mac_only, &serial_only}) {
      if (!attempt->mac && !attempt->serial) continue;
      const Rendered r = render(*attempt);
      if (r.ok) {
        full = r;
        chosen = attempt;
        break;
      }
    }
  }
  std::vector<Field> own_fields;
  if (verify.cache == nullptr) own_fields = ImageFields(RenderedImage(full, options.otp, ini_name));
  const std::vector<Field>& expected_fields =
      verify.cache != nullptr ? verify.cache->Fields(ini_path, *chosen) : own_fields;

  // A failed identity check has said all about its own fields.
  std::vector<std::string> told;
  for (const IdentityCheck& check : report.identity) {
    if (check.ok) continue;
    told.push_back(check.field);
    if (check.field == "CurrentSerialNumber") told.push_back("CurrentSerialNumber.slot");
  }
  for (FieldChange& change : DiffFields(expected_fields, source_fields, DiffOptions{})) {
    if (std::find(told.begin(), told.end(), change.name) != told.end()) continue;
    report.mismatches.push_back(std::move(change));
  }
  return report;
}

}  // namespace img
