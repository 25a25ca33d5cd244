#include "database/identity_pool.h"

#include <algorithm>
#include <cstdio>

#include "core/parsers.h"

namespace db {

uint64_t MacNumber(const MacAddress& mac) {
  uint64_t value = 0;
  for (uint8_t byte : mac) value = (value << 8) | byte;
  return value;
}

MacAddress MacFromNumber(uint64_t value) {
  MacAddress mac{};
  for (int i = 5; i >= 0; --i) {
    mac[static_cast<size_t>(i)] = static_cast<uint8_t>(value & 0xFF);
    value >>= 8;
  }
  return mac;
}

std::string MacText(uint64_t value) {
  const MacAddress mac = MacFromNumber(value);
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

bool ParseMacText(std::string_view text, uint64_t& value) {
  if (text.size() != 17) return false;
  const std::string copy(text);
  MacAddress mac{};
  if (ParseMacAddress(copy.c_str(), mac) != 0) return false;
  value = MacNumber(mac);
  return true;
}

std::string SerialKey(std::string_view serial) {
  std::string key(serial);
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

bool IsPoolSerial(std::string_view serial) {
  return !serial.empty() && serial.size() <= kMaxPoolSerialDigits &&
         std::all_of(serial.begin(), serial.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

uint64_t SerialValue(std::string_view serial) {
  uint64_t value = 0;
  for (char c : serial) value = (value << 4) | static_cast<uint64_t>(HexDigitValue(c));
  return value;
}

bool StepSerial(std::string& serial, uint64_t increment) {
  const size_t width = serial.size();
  const uint64_t value = SerialValue(serial);
  const uint64_t limit = width >= 16 ? UINT64_MAX : (uint64_t{1} << (4 * width)) - 1;
  if (increment > limit - value) return false;
  uint64_t sum = value + increment;
  for (size_t i = width; i-- > 0;) {
    serial[i] = "0123456789ABCDEF"[sum & 15];
    sum >>= 4;
  }
  return true;
}

std::string CheckPoolSpec(const PoolSpec& spec) {
  if (spec.name.empty() || spec.name.size() > kMaxPoolNameLength ||
      !std::all_of(spec.name.begin(), spec.name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
      })) {
    return "a pool name has 1 to 64 letters, digits, '.', '_' or '-'";
  }
  if (spec.mac_increment < 1 || spec.mac_increment > 255) {
    return "the MAC address increment must be 1 to 255";
  }
  if (spec.first_mac > kMacLimit || spec.last_mac > kMacLimit) return "a MAC address has 48 bits";
  if (spec.first_mac > spec.last_mac) {
    return "the first MAC address " + MacText(spec.first_mac) + " is above the last " +
           MacText(spec.last_mac);
  }
  if (spec.first_serial.empty() && spec.last_serial.empty()) return "";
  if (!IsPoolSerial(spec.first_serial) || !IsPoolSerial(spec.last_serial)) {
    return "a pool's serial numbers are 1 to 16 hexadecimal digits";
  }
  if (spec.first_serial.size() != spec.last_serial.size()) {
    return "the first and last serial numbers must have the same number of digits";
  }
  if (spec.serial_increment < 1 || spec.serial_increment > 255) {
    return "the serial number increment must be 1 to 255";
  }
  if (SerialValue(spec.first_serial) > SerialValue(spec.last_serial)) {
    return "the first serial number " + spec.first_serial + " is above the last " + spec.last_serial;
  }
  return "";
}

PoolSpec PoolSpecFromSettings(const std::string& name, const RunSettings& rs) {
  PoolSpec spec;
  spec.name = name;
  spec.first_mac = MacNumber(rs.CurrentMacAddress);
  spec.last_mac = MacNumber(rs.MaximumMacAddress);
  spec.mac_increment = rs.MacAddressIncrement;
  spec.first_serial = rs.CurrentSerialNumber.value_or("");
  spec.last_serial = rs.MaximumSerialNumber.value_or("");
  spec.serial_increment = rs.SerialNumberIncrement;
  return spec;
}

uint64_t RemainingIdentities(const PoolSpec& spec, uint64_t next_mac,
                             const std::optional<std::string>& next_serial) {
  if (next_mac > spec.last_mac || spec.mac_increment < 1) return 0;
  uint64_t remaining = (spec.last_mac - next_mac) / static_cast<uint64_t>(spec.mac_increment) + 1;
  if (!spec.first_serial.empty()) {
    if (!next_serial || !IsPoolSerial(*next_serial) || spec.serial_increment < 1) return 0;
    const uint64_t next = SerialValue(*next_serial);
    const uint64_t last = SerialValue(spec.last_serial);
    if (next > last) return 0;
    remaining = std::min(remaining, (last - next) / static_cast<uint64_t>(spec.serial_increment) + 1);
  }
  return remaining;
}

}  // namespace db
