#include "record/identity.h"

namespace record {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::optional<std::string> MacDigits(std::string_view text) {
  std::string digits;
  if (text.size() == 12) {
    for (char c : text) {
      if (!IsHexDigit(c)) return std::nullopt;
      digits.push_back(Upper(c));
    }
    return digits;
  }
  if (text.size() != 17) return std::nullopt;
  const char separator = text[2];
  if (separator != ':' && separator != '-') return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i % 3 == 2) {
      if (text[i] != separator) return std::nullopt;
    } else {
      if (!IsHexDigit(text[i])) return std::nullopt;
      digits.push_back(Upper(text[i]));
    }
  }
  return digits;
}

std::string MacKey(std::string_view logged) {
  if (std::optional<std::string> digits = MacDigits(logged)) return *digits;
  return SerialKey(logged);
}

std::string MacKeyText(const std::string& key) {
  const std::optional<std::string> digits = MacDigits(key);
  if (!digits || key.size() != 12) return key;
  std::string text;
  for (size_t i = 0; i < 12; i += 2) {
    if (i > 0) text.push_back(':');
    text.append(*digits, i, 2);
  }
  return text;
}

std::string SerialKey(std::string_view serial) {
  std::string key(serial);
  for (char& c : key) c = Upper(c);
  return key;
}

bool UnitQuery::Matches(const ProductionRecord& record) const {
  return kind == Kind::kMac ? MacKey(record.mac) == key : SerialKey(record.serial) == key;
}

std::string UnitQuery::Describe() const {
  return kind == Kind::kMac ? "MAC address " + MacKeyText(key) : "serial number " + key;
}

}  // namespace record
