#include "record/commands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>

#include "record/duplicates.h"
#include "record/summary.h"

namespace record {

namespace {

using img::JsonWriter;

// The fields of a record in the column order of the file.
using RecordFields = std::array<const std::string*, kRecordFieldCount>;
RecordFields FieldsOf(const ProductionRecord& r) {
  return {&r.time_utc, &r.host,          &r.adapter, &r.chip_model, &r.chip_id,       &r.memory,
          &r.source_file, &r.image_sha256, &r.mac,   &r.serial,     &r.bytes_written, &r.verify,
          &r.exit_code, &r.error,          &r.rework, &r.tool_version};
}

void Message(const std::string& text) { std::fprintf(stderr, "orn5300log: %s\n", text.c_str()); }

std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// One JSON document for the command.
struct Document : img::CommandDocument {
  Document(const char* command, const std::string& log)
      : CommandDocument(kJsonSchemaVersion, "orn5300log", command) {
    j.Member("log", log);
  }
};

// A failure that ends the command: the message, and with --json a document
// that says so.
int Fail(const LogOptions& options, const std::string& error) {
  Message(error);
  if (options.json) {
    Document doc(options.command.c_str(), options.log);
    doc.j.Member("error", error);
    return doc.Finish(kLogError);
  }
  return kLogError;
}

// "lines 5, 88", with the count of the ones not listed.
std::string DamagedLineList(const LineCounts& lines) {
  std::string text = lines.damaged_lines.size() == 1 ? "line " : "lines ";
  for (size_t i = 0; i < lines.damaged_lines.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(lines.damaged_lines[i]);
  }
  if (lines.damaged > lines.damaged_lines.size()) {
    text += " and " + std::to_string(lines.damaged - lines.damaged_lines.size()) + " more";
  }
  if (lines.unterminated_last_line) text += "; the last line has no line end";
  return text;
}

// The note of the commands whose report is not about the lines.
void NoteDamaged(const LogOptions& options, const LineCounts& lines) {
  if (lines.damaged == 0) return;
  Message(options.log + ": " + Count(lines.damaged, "damaged line", "damaged lines") + " skipped (" +
          DamagedLineList(lines) + ")");
}

std::string ExitCodeList(const ExitCodeCounts& codes) {
  std::string text;
  for (const auto& [code, n] : codes) {
    if (!text.empty()) text += ", ";
    text += Shown(code) + ": " + std::to_string(n);
  }
  return text;
}

void ExitCodesJson(JsonWriter& j, const ExitCodeCounts& codes) {
  j.BeginObject();
  for (const auto& [code, n] : codes) {
    j.Key(code);
    j.Unsigned(n);
  }
  j.EndObject();
}

std::string Percent(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", fraction * 100.0);
  return text;
}

std::string Padded(const std::string& text, size_t width, bool right) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

void PrintSummary(const Summary& s) {
  std::string out;
  auto row = [&out](const char* label, const std::string& value) {
    out += Padded(label, 19, false) + value + "\n";
  };
  row("Records", std::to_string(s.lines.records) + " (passed " + std::to_string(s.passed) + ", failed " +
                     std::to_string(s.failed) + ")");
  if (!s.exit_codes.empty()) row("Exit codes", ExitCodeList(s.exit_codes));
  if (!s.verify.empty()) {
    std::string verify;
    for (const auto& [value, n] : s.verify) {
      if (!verify.empty()) verify += ", ";
      verify += Shown(value) + ": " + std::to_string(n);
    }
    row("Verify", verify);
  }
  row("Rework records", std::to_string(s.rework_records));
  if (!s.unfinished.empty()) {
    std::string runs = std::to_string(s.unfinished.size());
    for (size_t i = 0; i < s.unfinished.size() && i < kListedDamagedLines; ++i) {
      const ProductionRecord& r = s.unfinished[i].record;
      runs += (i == 0 ? ": " : "; ") + std::string("line ") + std::to_string(s.unfinished[i].line) + " " +
              Shown(r.mac) + " on " + Shown(r.host);
    }
    if (s.unfinished.size() > kListedDamagedLines) {
      runs += " and " + std::to_string(s.unfinished.size() - kListedDamagedLines) + " more";
    }
    row("Unfinished runs", runs);
  }
  row("Units", Count(s.units, "MAC address", "MAC addresses") + ", " + std::to_string(s.programmed_units) +
                   " programmed (a verify passed)");
  const double yield = s.FirstPassYield();
  row("First-pass yield", yield < 0 ? std::string("none (no units)")
                                    : Percent(yield) + " (" + std::to_string(s.first_pass_units) + " of " +
                                          Count(s.units, "unit", "units") + " passed at their first record)");
  row("Damaged lines", s.lines.damaged == 0 ? "0" : std::to_string(s.lines.damaged) + ": " + DamagedLineList(s.lines));
  if (!s.stations.empty()) {
    std::vector<std::vector<std::string>> table = {{"Station", "Records", "Passed", "Failed", "Exit codes"}};
    for (const auto& [host, c] : s.stations) {
      table.push_back({host.empty() ? "(none)" : Shown(host), std::to_string(c.records), std::to_string(c.passed),
                       std::to_string(c.failed), ExitCodeList(c.exit_codes)});
    }
    std::vector<size_t> width(5, 0);
    for (const auto& cells : table) {
      for (size_t i = 0; i < cells.size(); ++i) width[i] = std::max(width[i], cells[i].size());
    }
    out += "\n";
    for (const auto& cells : table) {
      std::string line;
      for (size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) line += "  ";
        line += i == cells.size() - 1 ? cells[i] : Padded(cells[i], width[i], i > 0);
      }
      out += line + "\n";
    }
  }
  std::fputs(out.c_str(), stdout);
}

void CountMember(JsonWriter& j, std::string_view key, uint64_t n) {
  j.Key(key);
  j.Unsigned(n);
}

void SummaryJson(JsonWriter& j, const Summary& s) {
  j.Key("lines");
  LinesJson(j, s.lines);
  CountMember(j, "passed_count", s.passed);
  CountMember(j, "failed_count", s.failed);
  j.Key("exit_codes");
  ExitCodesJson(j, s.exit_codes);
  j.Key("verify");
  j.BeginObject();
  for (const auto& [value, n] : s.verify) CountMember(j, value, n);
  j.EndObject();
  CountMember(j, "rework_record_count", s.rework_records);
  j.Key("unfinished_runs");
  j.BeginArray();
  for (const UnfinishedRun& run : s.unfinished) {
    j.BeginObject();
    j.Key("line");
    j.Unsigned(run.line);
    j.Member("time_utc", run.record.time_utc);
    j.Member("host", run.record.host);
    j.Member("mac", run.record.mac);
    j.Member("serial", run.record.serial);
    j.EndObject();
  }
  j.EndArray();
  CountMember(j, "unit_count", s.units);
  CountMember(j, "programmed_unit_count", s.programmed_units);
  CountMember(j, "first_pass_unit_count", s.first_pass_units);
  j.Key("first_pass_yield");
  if (s.units == 0) {
    j.Null();
  } else {
    j.Real(s.FirstPassYield());
  }
  j.Key("stations");
  j.BeginArray();
  for (const auto& [host, c] : s.stations) {
    j.BeginObject();
    j.Member("host", host);
    CountMember(j, "record_count", c.records);
    CountMember(j, "passed_count", c.passed);
    CountMember(j, "failed_count", c.failed);
    j.Key("exit_codes");
    ExitCodesJson(j, c.exit_codes);
    j.EndObject();
  }
  j.EndArray();
}

// "line 9: 2026-12-08T10:20:00Z on ST02, MAC address ..., serial number
// ..., verify passed, exit code 0, rework"
std::string RecordLineText(const NumberedRecord& r) {
  const ProductionRecord& p = r.record;
  std::string text = "line " + std::to_string(r.line) + ": " + Shown(p.time_utc) + " on " + Shown(p.host) +
                     ", MAC address " + Shown(p.mac);
  if (!p.serial.empty()) text += ", serial number " + Shown(p.serial);
  text += ", exit code " + Shown(p.exit_code);
  if (p.rework == "yes") text += ", rework";
  return text;
}

void PrintDuplicates(const DuplicateReport& report) {
  std::string out;
  size_t macs = 0;
  for (const DuplicateGroup& group : report.groups) {
    const bool mac = group.kind == DuplicateGroup::Kind::kMac;
    macs += mac ? 1 : 0;
    out += (mac ? "MAC address " + Shown(MacKeyText(group.key)) : "Serial number " + Shown(group.key)) + ": " +
           Count(group.records.size(), "successful record", "successful records") +
           (group.rework_only ? " (rework)\n" : " (duplicate)\n");
    for (const NumberedRecord& r : group.records) out += "  " + RecordLineText(r) + "\n";
  }
  if (report.groups.empty()) {
    out += "No MAC address or serial number has more than one successful record (" +
           Count(report.programmed_records, "successful record", "successful records") + ")\n";
  } else {
    const size_t findings = report.Findings();
    out += Count(macs, "MAC address", "MAC addresses") + " and " +
           Count(report.groups.size() - macs, "serial number", "serial numbers") +
           " with more than one successful record: " + Count(findings, "duplicate", "duplicates") + ", " +
           Count(report.groups.size() - findings, "rework", "reworks") + "\n";
  }
  std::fputs(out.c_str(), stdout);
}

void DuplicatesJson(JsonWriter& j, const DuplicateReport& report) {
  j.Key("lines");
  LinesJson(j, report.lines);
  CountMember(j, "programmed_record_count", report.programmed_records);
  j.Key("groups");
  j.BeginArray();
  for (const DuplicateGroup& group : report.groups) {
    const bool mac = group.kind == DuplicateGroup::Kind::kMac;
    j.BeginObject();
    j.Member("kind", mac ? "mac" : "serial");
    j.Member("value", mac ? MacKeyText(group.key) : group.key);
    j.Member("rework_only", group.rework_only);
    j.Key("records");
    j.BeginArray();
    for (const NumberedRecord& r : group.records) RecordJson(j, r.line, r.record);
    j.EndArray();
    j.EndObject();
  }
  j.EndArray();
  const size_t duplicates = report.Findings();
  CountMember(j, "duplicate_count", duplicates);
  CountMember(j, "rework_count", report.groups.size() - duplicates);
}

std::string RecordBlock(uint64_t line, const ProductionRecord& record) {
  const RecordFields fields = FieldsOf(record);
  std::string text = "line " + std::to_string(line) + "\n";
  for (int i = 0; i < kRecordFieldCount; ++i) {
    const std::string value = Shown(*fields[static_cast<size_t>(i)]);
    text += "  " + (value.empty() ? std::string(kRecordColumns[i]) : Padded(kRecordColumns[i], 15, false) + value) +
            "\n";
  }
  return text;
}

}  // namespace

std::string Shown(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(byte));
      out += escape;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

namespace {

// A decimal integer as the log writes adapters, byte counts and exit codes.
std::optional<int64_t> DecimalValue(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return std::nullopt;
    value = value * 10 + (text[at] - '0');
  }
  return text[0] == '-' ? -value : value;
}

}  // namespace

void RecordJson(JsonWriter& j, uint64_t line, const ProductionRecord& record) {
  const RecordFields fields = FieldsOf(record);
  j.BeginObject();
  j.Key("line");
  j.Unsigned(line);
  for (int i = 0; i < kRecordFieldCount; ++i) {
    const std::string_view column = kRecordColumns[i];
    const std::string& value = *fields[static_cast<size_t>(i)];
    j.Key(column);
    if (column == "adapter" || column == "bytes_written" || column == "exit_code") {
      const std::optional<int64_t> number = DecimalValue(value);
      if (number) {
        j.Number(*number);
      } else {
        j.Null();
      }
    } else if (value.empty()) {
      j.Null();
    } else {
      j.String(value);
    }
  }
  j.EndObject();
}

void LinesJson(JsonWriter& j, const LineCounts& lines) {
  j.BeginObject();
  CountMember(j, "total_count", lines.lines);
  CountMember(j, "header_count", lines.header_lines);
  CountMember(j, "record_count", lines.records);
  CountMember(j, "start_line_count", lines.start_lines);
  CountMember(j, "damaged_count", lines.damaged);
  j.Key("damaged_lines");
  j.BeginArray();
  for (uint64_t n : lines.damaged_lines) j.Unsigned(n);
  j.EndArray();
  j.Member("unterminated_last_line", lines.unterminated_last_line);
  j.EndObject();
}

int RunSummary(const LogOptions& options) {
  std::string error;
  std::unique_ptr<LogSource> log = OpenLogSource(options.log, error);
  Summary summary;
  if (!log || !SummarizeLog(*log, options.log, summary, error)) return Fail(options, error);
  if (!options.json) {
    PrintSummary(summary);
    return kLogOk;
  }
  Document doc("summary", options.log);
  SummaryJson(doc.j, summary);
  return doc.Finish(kLogOk);
}

int RunDuplicates(const LogOptions& options) {
  std::string error;
  std::unique_ptr<LogSource> log = OpenLogSource(options.log, error);
  DuplicateReport report;
  if (!log || !FindDuplicates(*log, options.log, report, error)) return Fail(options, error);
  NoteDamaged(options, report.lines);
  const int code = report.Findings() > 0 ? kLogFindings : kLogOk;
  if (!options.json) {
    PrintDuplicates(report);
    return code;
  }
  Document doc("duplicates", options.log);
  DuplicatesJson(doc.j, report);
  return doc.Finish(code);
}

int RunShow(const LogOptions& options) {
  std::string error;
  std::unique_ptr<LogSource> log = OpenLogSource(options.log, error);
  if (!log) return Fail(options, error);
  const UnitQuery& unit = *options.unit;
  // Text goes out record by record; the JSON document holds the unit's
  // records only.
  std::unique_ptr<Document> doc;
  if (options.json) {
    doc = std::make_unique<Document>("show", options.log);
    doc->j.Key("query");
    doc->j.BeginObject();
    doc->j.Member(unit.kind == UnitQuery::Kind::kMac ? "mac" : "serial",
                  unit.kind == UnitQuery::Kind::kMac ? MacKeyText(unit.key) : unit.key);
    doc->j.EndObject();
    doc->j.Key("records");
    doc->j.BeginArray();
  }
  uint64_t found = 0;
  LineCounts lines;
  const bool ok = ReadLog(
      *log, options.log, UINT64_MAX,
      [&](const LogLine& line) {
        if (line.kind != LineKind::kRecord || !unit.Matches(line.record)) return;
        if (doc) {
          RecordJson(doc->j, line.number, line.record);
        } else {
          if (found > 0) std::fputc('\n', stdout);
          std::fputs(RecordBlock(line.number, line.record).c_str(), stdout);
        }
        ++found;
      },
      lines, error);
  if (!ok) return Fail(options, error);  // a partial document is not printed
  NoteDamaged(options, lines);
  const int code = found > 0 ? kLogOk : kLogFindings;
  if (found == 0) Message(options.log + ": no record of " + Shown(unit.Describe()));
  if (!doc) return code;
  doc->j.EndArray();
  doc->j.Key("lines");
  LinesJson(doc->j, lines);
  return doc->Finish(code);
}

}  // namespace record
