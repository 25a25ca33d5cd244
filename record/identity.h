// The unit that a reader of the log asks for, compared as the duplicate
// guard compares identities.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "provision/production_log.h"

namespace record {

// One definition of the same unit for the tool's duplicate guard and the
// log's readers (provision/production_log.h).
using ::MacDigits;
using ::MacKey;
using ::MacKeyText;
using ::SerialKey;

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
