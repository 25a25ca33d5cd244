// Fuzz target: arbitrary bytes as a production log for orn5300log, read in
// pieces of a size the first byte picks, through the summary, the duplicate
// search, a unit's records and their JSON. None may crash, and the counts
// must agree with each other whatever the bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "img/json_writer.h"
#include "record/commands.h"
#include "record/duplicates.h"
#include "record/identity.h"
#include "record/log_reader.h"
#include "record/summary.h"

namespace {

class PieceSource final : public record::LogSource {
 public:
  PieceSource(std::string_view text, size_t piece) : inner_(text), piece_(piece) {}
  int64_t Read(char* buffer, size_t n) override { return inner_.Read(buffer, std::min(n, piece_)); }
  bool Rewind() override { return inner_.Rewind(); }

 private:
  record::TextSource inner_;
  size_t piece_;
};

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputSplitter input(data, size);
  const size_t piece = size_t{1} + input.TakeByte();
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  PieceSource source(text, piece);
  std::string error;

  record::Summary summary;
  Check(record::SummarizeLog(source, "log", summary, error), "summary read");
  const record::LineCounts& lines = summary.lines;
  Check(lines.header_lines + lines.records + lines.start_lines + lines.damaged == lines.lines, "line kinds add up");
  Check(lines.bytes == text.size(), "every byte read");
  Check(summary.passed + summary.failed == lines.records, "passed and failed add up");
  Check(summary.first_pass_units <= summary.units && summary.programmed_units <= summary.units, "units");
  Check(summary.units <= lines.records, "a unit has a record");
  uint64_t station_records = 0;
  for (const auto& [host, counts] : summary.stations) station_records += counts.records;
  Check(station_records == lines.records, "stations add up");

  record::DuplicateReport report;
  Check(record::FindDuplicates(source, "log", report, error), "duplicates read");
  Check(report.lines.records == lines.records && report.lines.damaged == lines.damaged, "same lines twice");
  Check(report.programmed_records == summary.verify["passed"], "successful records");
  for (const record::DuplicateGroup& group : report.groups) {
    Check(group.records.size() >= 2, "a group has two records");
    for (const record::NumberedRecord& r : group.records) Check(ProgrammedSuccessfully(r.record), "successful");
  }

  // The records of the first group's identity, as show finds them, and
  // their JSON.
  if (!report.groups.empty()) {
    const record::DuplicateGroup& group = report.groups.front();
    record::UnitQuery query{group.kind == record::DuplicateGroup::Kind::kMac ? record::UnitQuery::Kind::kMac
                                                                             : record::UnitQuery::Kind::kSerial,
                            group.key};
    img::JsonWriter j;
    j.BeginArray();
    uint64_t found = 0;
    record::LineCounts counts;
    Check(record::ReadLog(
              source, "log", UINT64_MAX,
              [&](const record::LogLine& line) {
                if (line.kind != record::LineKind::kRecord || !query.Matches(line.record)) return;
                ++found;
                record::RecordJson(j, line.number, line.record);
                (void)record::Shown(line.record.error);
              },
              counts, error),
          "show read");
    j.EndArray();
    Check(found >= group.records.size(), "show finds the group's records");
  }
  return 0;
}
