// Reading the log line by line: what counts as a record, a header line and
// a damaged line, whatever pieces the bytes arrive in; the read-only open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_test_util.h"
#include "record/log_reader.h"
#include "support/tool_runner.h"

namespace {

using log_test::Log;
using log_test::Passed;
using record::LineKind;

struct Seen {
  std::vector<LineKind> kinds;
  std::vector<std::string> macs;  // of the records
  record::LineCounts counts;
};

Seen ReadAll(record::LogSource& source, uint64_t limit = UINT64_MAX) {
  Seen seen;
  std::string error;
  uint64_t expected_number = 1;
  EXPECT_TRUE(record::ReadLog(
      source, "log", limit,
      [&](const record::LogLine& line) {
        EXPECT_EQ(line.number, expected_number++);
        seen.kinds.push_back(line.kind);
        if (line.kind == LineKind::kRecord) seen.macs.push_back(line.record.mac);
      },
      seen.counts, error))
      << error;
  return seen;
}

const std::string kRecordA = FormatRecordLine(Passed("00:80:0F:11:22:30", "000000A1"));
const std::string kRecordB = FormatRecordLine(Passed("00:80:0F:11:22:31", "000000A2"));
const std::string kHeader = RecordHeaderLine();

std::string WithoutCr(std::string text) {
  std::erase(text, '\r');
  return text;
}

struct LineCase {
  const char* name;
  std::string text;
  std::vector<LineKind> kinds;
  std::vector<std::string> macs;
  bool unterminated = false;
};

constexpr LineKind H = LineKind::kHeader;
constexpr LineKind R = LineKind::kRecord;
constexpr LineKind D = LineKind::kDamaged;

TEST(LogReader, LinesAreTakenApartTheSameWhateverPiecesTheyArriveIn) {
  ProductionRecord quoted = Passed("00:80:0F:11:22:32", "000000A3");
  quoted.error = "Cannot write \"x,y\", try again";
  quoted.source_file = "C:\\stations\\a,b.ini";
  const LineCase cases[] = {
      {"empty log", "", {}, {}},
      {"header and records", kHeader + kRecordA + kRecordB, {H, R, R}, {"00:80:0F:11:22:30", "00:80:0F:11:22:31"}},
      // A log converted to LF line ends reads as written; a line a crash
      // cut short has too few fields.
      {"LF line ends", WithoutCr(kHeader + kRecordA), {H, R}, {"00:80:0F:11:22:30"}},
      {"a header after a byte-order mark", "\xEF\xBB\xBF" + kHeader + kRecordA, {H, R}, {"00:80:0F:11:22:30"}},
      {"quotes, commas and backslashes inside fields", kHeader + FormatRecordLine(quoted), {H, R},
       {"00:80:0F:11:22:32"}},
      {"a record cut short, then the next append on a line of its own",
       kHeader + kRecordA.substr(0, 60) + "\r\n" + kRecordB, {H, D, R}, {"00:80:0F:11:22:31"}},
      {"a record cut inside a quoted field", kHeader + "2026,\"ST01\r\n" + kRecordB, {H, D, R},
       {"00:80:0F:11:22:31"}},
      {"a stray quote", kHeader + "a,b\"c,d\r\n", {H, D}, {}},
      {"fifteen and seventeen fields",
       kHeader + kRecordA.substr(kRecordA.find(',') + 1) + kRecordA.substr(0, kRecordA.size() - 2) + ",x\r\n",
       {H, D, D}, {}},
      {"empty lines", kHeader + "\r\n\n" + kRecordA, {H, D, D, R}, {"00:80:0F:11:22:30"}},
      {"the header again in the middle (logs joined)", kHeader + kRecordA + kHeader + kRecordB, {H, R, H, R},
       {"00:80:0F:11:22:30", "00:80:0F:11:22:31"}},
      {"a whole record without its line end at the end", kHeader + kRecordA + kRecordB.substr(0, kRecordB.size() - 2),
       {H, R, D}, {"00:80:0F:11:22:30"}, true},
      {"a last CR without LF", kHeader + kRecordA.substr(0, kRecordA.size() - 1), {H, D}, {}, true},
      {"a line longer than any record, then a record",
       kHeader + std::string(record::kMaxLineBytes + 5, 'x') + "\r\n" + kRecordA, {H, D, R}, {"00:80:0F:11:22:30"}},
  };
  for (const LineCase& c : cases) {
    for (size_t piece : {size_t{1}, size_t{3}, size_t{1000}, size_t{1} << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      log_test::ChoppedSource source(c.text, piece);
      const Seen seen = ReadAll(source);
      EXPECT_EQ(seen.kinds, c.kinds);
      EXPECT_EQ(seen.macs, c.macs);
      EXPECT_EQ(seen.counts.lines, c.kinds.size());
      EXPECT_EQ(seen.counts.unterminated_last_line, c.unterminated);
      EXPECT_EQ(seen.counts.bytes, c.text.size());
      const auto count = [&](LineKind k) { return static_cast<uint64_t>(std::count(c.kinds.begin(), c.kinds.end(), k)); };
      EXPECT_EQ(seen.counts.header_lines, count(H));
      EXPECT_EQ(seen.counts.records, count(R));
      EXPECT_EQ(seen.counts.damaged, count(D));
    }
  }
}

TEST(LogReader, FieldsComeBackAsWritten) {
  ProductionRecord r = Passed("00:80:0F:11:22:32", "000000A3");
  r.error = "Cannot write \"x,y\", try again";
  r.source_file = "C:\\stations\\a,b.ini";
  record::TextSource source(Log({r}));
  ProductionRecord read;
  record::LineCounts counts;
  std::string error;
  ASSERT_TRUE(record::ReadLog(
      source, "log", UINT64_MAX,
      [&](const record::LogLine& line) {
        if (line.kind == LineKind::kRecord) read = line.record;
      },
      counts, error));
  EXPECT_EQ(FormatRecordLine(read), FormatRecordLine(r));
}

TEST(LogReader, DamagedLinesAreListedUpToALimitAndAllCounted) {
  std::string text = kHeader;
  for (int i = 0; i < 15; ++i) text += "broken\r\n" + kRecordA;
  record::TextSource source(text);
  const Seen seen = ReadAll(source);
  EXPECT_EQ(seen.counts.damaged, 15u);
  EXPECT_EQ(seen.counts.records, 15u);
  ASSERT_EQ(seen.counts.damaged_lines.size(), record::kListedDamagedLines);
  EXPECT_EQ(seen.counts.damaged_lines.front(), 2u);
  EXPECT_EQ(seen.counts.damaged_lines.back(), 20u);
}

TEST(LogReader, ALimitStopsTheReadAtThatByte) {
  const std::string text = kHeader + kRecordA + kRecordB;
  record::TextSource source(text);
  // Ending inside the second record leaves it a cut-short last line.
  const Seen seen = ReadAll(source, kHeader.size() + kRecordA.size() + 10);
  EXPECT_EQ(seen.kinds, (std::vector<LineKind>{H, R, D}));
  EXPECT_TRUE(seen.counts.unterminated_last_line);
  EXPECT_EQ(seen.counts.bytes, kHeader.size() + kRecordA.size() + 10);
}

TEST(LogFile, AMissingLogIsAnErrorAndIsNotCreated) {
  test::TempDir dir;
  const std::string path = dir.File("prod.csv");
  std::string error;
  EXPECT_EQ(record::FileSource::Open(path, error), nullptr);
  EXPECT_EQ(error, "cannot open " + path + ": No such file or directory");
  EXPECT_FALSE(test::FileExists(path));
}

TEST(LogFile, AFolderCannotBeRead) {
  test::TempDir dir;
  std::string error;
  std::unique_ptr<record::FileSource> file = record::FileSource::Open(dir.path(), error);
  if (file == nullptr) {
    EXPECT_EQ(error.rfind("cannot open " + dir.path() + ": ", 0), 0u);
    return;
  }
  record::LineCounts counts;
  EXPECT_FALSE(record::ReadLog(*file, dir.path(), UINT64_MAX, [](const record::LogLine&) {}, counts, error));
  EXPECT_EQ(error, "cannot read " + dir.path() + ": Is a directory");
}

TEST(LogFile, ReadsAFileTwiceFromItsStart) {
  test::TempDir dir;
  const std::string path = dir.File("prod.csv");
  test::WriteFile(path, kHeader + kRecordA + kRecordB);
  std::string error;
  std::unique_ptr<record::FileSource> file = record::FileSource::Open(path, error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(ReadAll(*file).kinds, (std::vector<LineKind>{H, R, R}));
  EXPECT_EQ(ReadAll(*file).kinds, (std::vector<LineKind>{H, R, R}));
}

}  // namespace
