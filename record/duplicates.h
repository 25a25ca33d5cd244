// Identities programmed more than once: every MAC address and every serial
// number that more than one successful record (verify passed) names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "provision/production_log.h"
#include "record/log_reader.h"

namespace record {

struct NumberedRecord {
  uint64_t line = 0;
  ProductionRecord record;
};

struct DuplicateGroup {
  enum class Kind { kMac, kSerial };
  Kind kind = Kind::kMac;
  std::string key;                      // MacKey or SerialKey
  std::vector<NumberedRecord> records;  // the successful records, in log order
  // Every record after the first is a rework of the first one's unit: it
  // says rework and names the same MAC address and serial number.
  bool rework_only = false;
};

struct DuplicateReport {
  LineCounts lines;
  uint64_t programmed_records = 0;  // records whose verify passed
  // MAC address groups, then serial number groups, each in the order of
  // their first record.
  std::vector<DuplicateGroup> groups;

  // Groups that are not reworks only.
  size_t Findings() const;
};

// Reads the log twice: once to count the successful records of every MAC
// address and serial number (state per identity, not per line), and, when
// some are counted twice, once more over the same bytes to collect their
// records. false with `error` set when the log cannot be read.
bool FindDuplicates(LogSource& source, const std::string& name, DuplicateReport& report, std::string& error);

}  // namespace record
