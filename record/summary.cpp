#include "record/summary.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "record/identity.h"

namespace record {

namespace {

// The value of a decimal exit code, or -1 for another text.
int64_t ExitCodeValue(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

bool ExitCodeOrder::operator()(const std::string& a, const std::string& b) const {
  const int64_t x = ExitCodeValue(a);
  const int64_t y = ExitCodeValue(b);
  const int64_t kText = std::numeric_limits<int64_t>::max();
  const int64_t kx = x < 0 ? kText : x;
  const int64_t ky = y < 0 ? kText : y;
  if (kx != ky) return kx < ky;
  return a < b;  // "7" before "07"; texts in byte order
}

bool VerifyOrder::operator()(const std::string& a, const std::string& b) const {
  auto rank = [](const std::string& v) { return v == "passed" ? 0 : v == "failed" ? 1 : v == "not run" ? 2 : 3; };
  if (rank(a) != rank(b)) return rank(a) < rank(b);
  return a < b;
}

bool RecordPassed(const ProductionRecord& record) { return record.exit_code == "0"; }

double Summary::FirstPassYield() const {
  if (units == 0) return -1.0;
  return static_cast<double>(first_pass_units) / static_cast<double>(units);
}

void SummaryBuilder::Add(const ProductionRecord& record, uint64_t line) {
  // A start line is no run of its own: it stands until a record of a run
  // that reached a device names its MAC address.
  if (IsStartLine(record)) {
    pending_[MacKey(record.mac)].push_back(UnfinishedRun{line, record});
    return;
  }
  if (EndOfRunOnDevice(record)) pending_.erase(MacKey(record.mac));
  const bool passed = RecordPassed(record);
  (passed ? summary_.passed : summary_.failed) += 1;
  ++summary_.exit_codes[record.exit_code];
  ++summary_.verify[record.verify];
  if (record.rework == "yes") ++summary_.rework_records;
  StationCounts& station = summary_.stations[record.host];
  ++station.records;
  (passed ? station.passed : station.failed) += 1;
  ++station.exit_codes[record.exit_code];

  const bool programmed = ProgrammedSuccessfully(record);
  auto [unit, first] = programmed_.try_emplace(MacKey(record.mac), programmed);
  if (first) {
    ++summary_.units;
    if (passed) ++summary_.first_pass_units;
    if (programmed) ++summary_.programmed_units;
  } else if (programmed && !unit->second) {
    unit->second = true;
    ++summary_.programmed_units;
  }
}

Summary SummaryBuilder::Result(const LineCounts& lines) const {
  Summary result = summary_;
  result.lines = lines;
  for (const auto& [key, runs] : pending_) result.unfinished.insert(result.unfinished.end(), runs.begin(), runs.end());
  std::sort(result.unfinished.begin(), result.unfinished.end(),
            [](const UnfinishedRun& a, const UnfinishedRun& b) { return a.line < b.line; });
  return result;
}

bool SummarizeLog(LogSource& source, const std::string& name, Summary& summary, std::string& error) {
  SummaryBuilder builder;
  LineCounts lines;
  const bool ok = ReadLog(
      source, name, UINT64_MAX,
      [&](const LogLine& line) {
        if (line.kind == LineKind::kRecord) builder.Add(line.record, line.number);
      },
      lines, error);
  if (!ok) return false;
  summary = builder.Result(lines);
  return true;
}

}  // namespace record
