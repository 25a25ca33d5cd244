// The summary of a log: records per station and result, units, first-pass
// yield and rework records, gathered in one pass.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "provision/production_log.h"
#include "record/log_reader.h"

namespace record {

// Orders exit codes as numbers (0, 3, 10, 255), texts that are no number
// after them.
struct ExitCodeOrder {
  bool operator()(const std::string& a, const std::string& b) const;
};
using ExitCodeCounts = std::map<std::string, uint64_t, ExitCodeOrder>;

// Orders the verify column's values as passed, failed, not run, then
// other texts.
struct VerifyOrder {
  bool operator()(const std::string& a, const std::string& b) const;
};
using VerifyCounts = std::map<std::string, uint64_t, VerifyOrder>;

// A record passed when its exit code is 0; every other record failed.
bool RecordPassed(const ProductionRecord& record);

struct StationCounts {
  uint64_t records = 0;
  uint64_t passed = 0;
  uint64_t failed = 0;
  ExitCodeCounts exit_codes;
};

// A start line after which no run that reached a device recorded its MAC
// address: the run was killed or lost power while it programmed the unit.
struct UnfinishedRun {
  uint64_t line = 0;
  ProductionRecord record;
};

struct Summary {
  LineCounts lines;
  uint64_t passed = 0;
  uint64_t failed = 0;
  ExitCodeCounts exit_codes;
  VerifyCounts verify;
  uint64_t rework_records = 0;
  std::map<std::string, StationCounts> stations;  // by host
  // A unit is a MAC address (MacKey). Its first record is the first line
  // of the log that names it.
  uint64_t units = 0;
  uint64_t first_pass_units = 0;  // units whose first record passed
  uint64_t programmed_units = 0;  // units with a record whose verify passed
  std::vector<UnfinishedRun> unfinished;  // in line order

  // first_pass_units / units; negative when there are no units.
  double FirstPassYield() const;
};

// Gathers a summary record by record; per unit it keeps the MAC key and
// whether a verify passed.
class SummaryBuilder {
 public:
  void Add(const ProductionRecord& record, uint64_t line = 0);
  // The summary so far, with the line counts of the read.
  Summary Result(const LineCounts& lines) const;

 private:
  Summary summary_;
  std::unordered_map<std::string, bool> programmed_;  // MAC key -> a verify passed
  std::map<std::string, std::vector<UnfinishedRun>> pending_;  // MAC key -> start lines not yet ended
};

// Reads the whole log and sums it up. false with `error` set when it
// cannot be read.
bool SummarizeLog(LogSource& source, const std::string& name, Summary& summary, std::string& error);

}  // namespace record
