// The identity of a unit as the log's readers compare it: MAC addresses
// whatever their case and separators, serial numbers whatever their case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "provision/production_log.h"

namespace record {

// The twelve upper-case hexadecimal digits of a MAC address written as six
// pairs separated by ':' or by '-' (one kind throughout) or as twelve digits
// alone; nothing when the text is not such an address.
std::optional<std::string> MacDigits(std::string_view text);

// The key under which a logged MAC address groups: its twelve digits, or,
// for a text that is no MAC address, the text in upper case, so that odd
// records still group with their equals.
std::string MacKey(std::string_view logged);

// A key of MacKey as people read it: 00:80:0F:11:22:30 (other keys as they
// are).
std::string MacKeyText(const std::string& key);

// The key of a serial number: the text in upper case (serial numbers are
// hexadecimal text, and lower-case digits mean the same digits).
std::string SerialKey(std::string_view serial);

// The unit that `orn5300log show` asks for: a MAC address or a serial
// number.
struct UnitQuery {
  enum class Kind { kMac, kSerial };
  Kind kind = Kind::kMac;
  std::string key;  // MacDigits or SerialKey

  bool Matches(const ProductionRecord& record) const;
  // "MAC address 00:80:0F:11:22:30", "serial number 000000A1".
  std::string Describe() const;
};

}  // namespace record
