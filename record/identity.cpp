#include "record/identity.h"

namespace record {

bool UnitQuery::Matches(const ProductionRecord& record) const {
  return kind == Kind::kMac ? MacKey(record.mac) == key : SerialKey(record.serial) == key;
}

std::string UnitQuery::Describe() const {
  return kind == Kind::kMac ? "MAC address " + MacKeyText(key) : "serial number " + key;
}

}  // namespace record
