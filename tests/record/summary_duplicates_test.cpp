// The summary (counts per station and result, units, first-pass yield) and
// the duplicate finder, on logs made record by record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_test_util.h"
#include "record/duplicates.h"
#include "record/summary.h"

namespace {

using log_test::Log;
using log_test::Passed;
using log_test::Rec;
using record::DuplicateGroup;

record::Summary Summarize(const std::string& text) {
  record::TextSource source(text);
  record::Summary summary;
  std::string error;
  EXPECT_TRUE(record::SummarizeLog(source, "log", summary, error)) << error;
  return summary;
}

TEST(Summary, CountsStationsResultsUnitsAndTheFirstPassYield) {
  const std::string log = Log({
      Rec("ST01", "00:80:0F:11:22:30", "A1", "failed", "9"),       // unit 30 fails first
      Rec("ST02", "00-80-0f-11-22-30", "A1", "passed", "0"),       // the same unit, written otherwise
      Rec("ST01", "00:80:0F:11:22:31", "A2", "passed", "0"),       // unit 31 passes first
      Rec("ST02", "00:80:0F:11:22:32", "A3", "not run", "10"),     // unit 32 refused, never programmed
      Rec("ST01", "00:80:0F:11:22:31", "A2", "passed", "0", "yes"),  // a rework of 31
      Rec("ST03", "00:80:0F:11:22:33", "A4", "passed", "255"),     // verify passed, run failed later
  }) + "cut short";
  const record::Summary s = Summarize(log);
  EXPECT_EQ(s.lines.records, 6u);
  EXPECT_EQ(s.lines.damaged, 1u);
  EXPECT_EQ(s.passed, 3u);
  EXPECT_EQ(s.failed, 3u);
  EXPECT_EQ(std::vector<std::string>({"0", "9", "10", "255"}), [&] {
    std::vector<std::string> keys;
    for (const auto& [code, n] : s.exit_codes) keys.push_back(code);
    return keys;
  }()) << "exit codes in the order of their numbers";
  EXPECT_EQ(s.exit_codes.at("0"), 3u);
  EXPECT_EQ(s.verify.at("passed"), 4u);
  EXPECT_EQ(s.verify.begin()->first, "passed");
  EXPECT_EQ(s.rework_records, 1u);
  EXPECT_EQ(s.units, 4u);
  EXPECT_EQ(s.first_pass_units, 1u);  // only 31
  EXPECT_EQ(s.programmed_units, 3u);  // 30, 31, 33
  EXPECT_DOUBLE_EQ(s.FirstPassYield(), 0.25);
  ASSERT_EQ(s.stations.size(), 3u);
  const record::StationCounts& st01 = s.stations.at("ST01");
  EXPECT_EQ(st01.records, 3u);
  EXPECT_EQ(st01.passed, 2u);
  EXPECT_EQ(st01.failed, 1u);
  EXPECT_EQ(st01.exit_codes.at("9"), 1u);
  EXPECT_EQ(s.stations.at("ST03").failed, 1u);
}

TEST(Summary, ALogWithoutRecordsHasNoYield) {
  for (const std::string& text : {std::string(), RecordHeaderLine(), RecordHeaderLine() + "junk\r\n"}) {
    const record::Summary s = Summarize(text);
    EXPECT_EQ(s.units, 0u);
    EXPECT_LT(s.FirstPassYield(), 0.0);
  }
}

TEST(Summary, ExitCodeOrder) {
  const record::ExitCodeOrder less;
  EXPECT_TRUE(less("9", "10"));
  EXPECT_FALSE(less("10", "9"));
  EXPECT_TRUE(less("255", "abc"));
  EXPECT_FALSE(less("abc", "255"));
  EXPECT_TRUE(less("", "x"));
  EXPECT_FALSE(less("7", "7"));
}

struct Group {
  DuplicateGroup::Kind kind;
  std::string key;
  std::vector<uint64_t> lines;
  bool rework_only;
};

struct DuplicateCase {
  const char* name;
  std::vector<ProductionRecord> records;  // from line 2
  std::vector<Group> groups;
  size_t findings;
};

constexpr auto kMac = DuplicateGroup::Kind::kMac;
constexpr auto kSerial = DuplicateGroup::Kind::kSerial;
const std::string A = "00:80:0F:11:22:30";
const std::string B = "00:80:0F:11:22:31";

TEST(Duplicates, GroupsOfSuccessfulRecordsAndWhetherReworkExplainsThem) {
  const DuplicateCase cases[] = {
      {"distinct identities", {Passed(A, "A1"), Passed(B, "A2")}, {}, 0},
      {"one MAC address twice", {Passed(A, "A1"), Passed(B, "A2"), Passed(A, "A3")},
       {{kMac, "00800F112230", {2, 4}, false}}, 1},
      {"one serial number twice", {Passed(A, "A1"), Passed(B, "a1")}, {{kSerial, "A1", {2, 3}, false}}, 1},
      {"a rework of the same unit", {Passed(A, "A1"), Passed(A, "A1", "yes")},
       {{kMac, "00800F112230", {2, 3}, true}, {kSerial, "A1", {2, 3}, true}}, 0},
      {"a rework written in other case and separators", {Passed(A, "a1"), Passed("00-80-0f-11-22-30", "A1", "yes")},
       {{kMac, "00800F112230", {2, 3}, true}, {kSerial, "A1", {2, 3}, true}}, 0},
      {"a rework flag with another serial number", {Passed(A, "A1"), Passed(A, "A2", "yes")},
       {{kMac, "00800F112230", {2, 3}, false}}, 1},
      {"a second programming after a rework", {Passed(A, "A1"), Passed(A, "A1", "yes"), Passed(A, "A1")},
       {{kMac, "00800F112230", {2, 3, 4}, false}, {kSerial, "A1", {2, 3, 4}, false}}, 2},
      {"failed and refused runs are no success",
       {Rec("ST01", A, "A1", "failed", "9"), Passed(A, "A1"), Rec("ST02", A, "A1", "not run", "10")}, {}, 0},
      {"records without a serial number share none", {Passed(A, ""), Passed(B, "")}, {}, 0},
      {"a MAC text that is no address still groups", {Passed("bogus", "A1"), Passed("BOGUS", "A2")},
       {{kMac, "BOGUS", {2, 3}, false}}, 1},
  };
  for (const DuplicateCase& c : cases) {
    SCOPED_TRACE(c.name);
    record::TextSource source(Log(c.records) + "trailing damage");
    record::DuplicateReport report;
    std::string error;
    ASSERT_TRUE(record::FindDuplicates(source, "log", report, error)) << error;
    EXPECT_EQ(report.lines.damaged, 1u);
    ASSERT_EQ(report.groups.size(), c.groups.size());
    for (size_t i = 0; i < c.groups.size(); ++i) {
      const DuplicateGroup& got = report.groups[i];
      EXPECT_EQ(got.kind, c.groups[i].kind) << i;
      EXPECT_EQ(got.key, c.groups[i].key) << i;
      std::vector<uint64_t> lines;
      for (const record::NumberedRecord& r : got.records) lines.push_back(r.line);
      EXPECT_EQ(lines, c.groups[i].lines) << i;
      EXPECT_EQ(got.rework_only, c.groups[i].rework_only) << i;
    }
    EXPECT_EQ(report.Findings(), c.findings);
  }
}

TEST(Duplicates, TheSecondPassReadsOnlyWhatTheFirstOneRead) {
  const std::string log = Log({Passed(A, "A1"), Passed(B, "A2"), Passed(A, "A3")});
  // A run appends another record of A and a new duplicate of B between the
  // passes: the report stays the one of the first pass.
  log_test::ChangingSource grown(log, log + FormatRecordLine(Passed(A, "A4")) + FormatRecordLine(Passed(B, "A5")));
  record::DuplicateReport report;
  std::string error;
  ASSERT_TRUE(record::FindDuplicates(grown, "log", report, error)) << error;
  ASSERT_EQ(report.groups.size(), 1u);
  EXPECT_EQ(report.groups[0].records.size(), 2u);
  EXPECT_EQ(report.lines.records, 3u);

  // A log replaced by a shorter one loses the group rather than showing one
  // record.
  log_test::ChangingSource shrunk(log, Log({Passed(A, "A1"), Passed(B, "A2")}));
  ASSERT_TRUE(record::FindDuplicates(shrunk, "log", report, error)) << error;
  EXPECT_TRUE(report.groups.empty());
}

}  // namespace
