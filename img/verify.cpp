#include "img/verify.h"

#include <algorithm>
#include <cstdio>

#include "img/layout_facts.h"
#include "img/render.h"

namespace img {

namespace {

std::string MacText(const MacAddress& mac) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

bool IsUpperHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The shorter text padded on the left with '0' to the other's length, as the
// command-line parse does with the current and maximum serial numbers.
void PadToSameLength(std::string& a, std::string& b) {
  if (a.size() < b.size()) a.insert(0, b.size() - a.size(), '0');
  if (b.size() < a.size()) b.insert(0, a.size() - b.size(), '0');
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

}  // namespace

bool VerifyReport::Match() const {
  if (!rendered || !error.empty()) return false;
  for (const IdentityCheck& check : identity) {
    if (!check.ok) return false;
  }
  return mismatches.empty();
}

VerifyReport VerifyAgainstIni(const std::string& ini_path, const Image& source) {
  VerifyReport report;
  const bool configuration = source.kind == ImageKind::kEeprom || source.kind == ImageKind::kOtpFirst ||
                             source.kind == ImageKind::kOtpSecond;
  RenderOptions options;
  options.layout = configuration ? source.layout : Layout::kUnknown;
  options.otp = source.otp_memory;
  options.otp_signature_default = source.kind == ImageKind::kOtpSecond ? kSigOtpSecond : kSigOtpFirst;
  if (source.source == SourceType::kDevice && !source.otp_memory) options.eeprom_size = source.memory_size;

  const Rendered plain = RenderIniFile(ini_path, options);
  if (!plain.ok) {
    report.error = ini_path + ": " + plain.error;
    if (configuration && source.layout != Layout::kUnknown) {
      report.error += std::string(" (rendered in the ") + LayoutName(source.layout) + " layout of the source)";
    }
    return report;
  }
  report.rendered = true;
  if (!configuration) {
    report.error = std::string("the source holds no configuration: ") + KindName(source.kind);
    return report;
  }
  if (source.layout == Layout::kUnknown) {
    report.error = "the layout of the source is not recognised (use --model ORN5300 or ORN5350)";
    return report;
  }

  // The identity: only its range is checked.
  const ByteView b(source.bytes);
  MacAddress mac{};
  for (size_t i = 0; i < mac.size(); ++i) mac[i] = b.U8(static_cast<long>(1 + i));
  IdentityCheck mac_check;
  mac_check.field = "CurrentMacAddress";
  mac_check.offset = 1;
  mac_check.found = MacText(mac);
  mac_check.low = MacText(plain.current_mac);
  mac_check.high = MacText(plain.maximum_mac);
  const bool unicast = (mac[0] & 1) == 0 && mac != MacAddress{};
  if (!b.Has(1, 6)) {
    mac_check.message = "the source has no MAC address";
  } else if (!unicast) {
    mac_check.message = "the MAC address is not a unicast address";
  } else if (mac < plain.current_mac || mac > plain.maximum_mac) {
    mac_check.message = "the MAC address lies outside the INI file's range";
  } else {
    mac_check.ok = true;
  }
  report.identity.push_back(mac_check);

  IdentityCheck serial_check;
  serial_check.field = "CurrentSerialNumber";
  std::string serial;
  const bool has_serial = ReadSerial(source, serial, serial_check.offset);
  std::string low = plain.current_serial.value_or("");
  std::string high = plain.maximum_serial.value_or("");
  PadToSameLength(low, high);
  serial_check.low = Printable(low);
  serial_check.high = Printable(high);
  if (!has_serial) {
    serial_check.message = "the source has no serial number string";
  } else {
    serial_check.found = Printable(serial);
    if (serial.size() != low.size()) {
      serial_check.message = "the serial number has " + std::to_string(serial.size()) +
                             " characters; the INI file's have " + std::to_string(low.size());
    } else if (serial < low || serial > high) {
      serial_check.message = "the serial number lies outside the INI file's range";
    } else {
      serial_check.ok = true;
    }
  }
  report.identity.push_back(serial_check);

  // Render again with the source's identity in place, as -M and -S would,
  // where the command-line parse would accept it.
  RenderOptions with_identity = options;
  if (unicast && mac <= plain.maximum_mac) with_identity.mac = mac;
  if (has_serial && serial.size() <= 16) {
    std::string padded = serial;
    std::string maximum = plain.maximum_serial.value_or("");
    PadToSameLength(padded, maximum);
    if (!(IsUpperHex(padded) && padded > maximum)) with_identity.serial = serial;
  }
  Rendered full = plain;
  if (with_identity.mac || with_identity.serial) {
    Rendered attempt = RenderIniFile(ini_path, with_identity);
    if (attempt.ok) full = attempt;
  }

  Image expected;
  expected.name = ini_path;
  expected.source = SourceType::kIni;
  expected.raw = full.file;
  expected.bytes = full.image;
  expected.kind = full.kind;
  expected.layout = full.layout;
  expected.otp_memory = options.otp;
  DiffOptions diff;
  diff.ignore_identity = true;
  report.mismatches = DiffFields(ImageFields(expected), ImageFields(source), diff);
  return report;
}

}  // namespace img
