#include "provision/production_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "core/exit_codes.h"
#include "core/output.h"
#include "platform/find_bytes.h"

const char* const kRecordColumns[kRecordFieldCount] = {
    "time_utc",   "host",   "adapter",       "chip_model", "chip_id", "memory",
    "source_file", "image_sha256", "mac",    "serial",     "bytes_written", "verify",
    "exit_code",  "error",  "rework",        "tool_version"};

namespace {

constexpr uint32_t kLockWarnMs = 2000;
constexpr size_t kReadPiece = size_t{1} << 20;

// The fields of a record in column order.
std::vector<std::string*> Fields(ProductionRecord& r) {
  return {&r.time_utc, &r.host,          &r.adapter,  &r.chip_model,    &r.chip_id, &r.memory,
          &r.source_file, &r.image_sha256, &r.mac,   &r.serial,        &r.bytes_written,
          &r.verify,   &r.exit_code,     &r.error,    &r.rework,        &r.tool_version};
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// Keys of the claims: the identity as text, hashed (FNV-1a, 64 bits).
uint64_t ClaimKey(const std::string& kind, const std::string& value) {
  uint64_t h = 1469598103934665603ull;
  for (char c : kind + ":" + value) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

std::string Describe(const EarlierRecord& e) {
  return "line " + std::to_string(e.line) + " of the log: " + e.record.time_utc + " on " +
         e.record.host + ", MAC address " + e.record.mac +
         (e.record.serial.empty() ? std::string() : ", serial number " + e.record.serial);
}

}  // namespace

std::string RecordHeaderLine() {
  std::string line;
  for (int i = 0; i < kRecordFieldCount; ++i) {
    if (i > 0) line += ',';
    line += kRecordColumns[i];
  }
  return line + "\r\n";
}

std::string FormatRecordLine(const ProductionRecord& record) {
  ProductionRecord copy = record;
  std::string line;
  bool first = true;
  for (std::string* field : Fields(copy)) {
    if (!first) line += ',';
    first = false;
    line += CsvField(*field);
  }
  return line + "\r\n";
}

bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields) {
  fields.clear();
  std::string field;
  size_t i = 0;
  for (;;) {
    field.clear();
    if (i < line.size() && line[i] == '"') {
      ++i;
      for (;;) {
        if (i >= line.size()) return false;  // no closing quote
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += line[i++];
      }
      if (i < line.size() && line[i] != ',') return false;
    } else {
      while (i < line.size() && line[i] != ',') {
        if (line[i] == '"') return false;
        field += line[i++];
      }
    }
    fields.push_back(field);
    if (i >= line.size()) return true;
    ++i;  // the comma
  }
}

bool ParseRecordLine(std::string_view line, ProductionRecord& record) {
  // Every record is written with its CR LF in one piece; a line without
  // the CR was cut short and ended by a later append.
  if (line.empty() || line.back() != '\r') return false;
  line.remove_suffix(1);
  std::vector<std::string> fields;
  if (!SplitCsvLine(line, fields) || fields.size() != static_cast<size_t>(kRecordFieldCount)) {
    return false;
  }
  if (fields[0] == kRecordColumns[0]) return false;  // the header line
  std::vector<std::string*> out = Fields(record);
  for (int i = 0; i < kRecordFieldCount; ++i) *out[static_cast<size_t>(i)] = std::move(fields[static_cast<size_t>(i)]);
  return true;
}

bool ProgrammedSuccessfully(const ProductionRecord& record) { return record.verify == "passed"; }

bool ForEachLogLine(platform::SharedLog& log,
                    const std::function<bool(uint64_t line, std::string_view text)>& fn) {
  std::string buffer;
  std::vector<char> piece(kReadPiece);
  uint64_t offset = 0;
  uint64_t line_number = 0;
  for (;;) {
    const int64_t got = log.ReadAt(offset, piece.data(), piece.size());
    if (got < 0) return false;
    if (got == 0) return true;  // a rest without a line end was cut short
    offset += static_cast<uint64_t>(got);
    buffer.append(piece.data(), static_cast<size_t>(got));
    size_t start = 0;
    for (size_t end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n', start)) {
      ++line_number;
      if (!fn(line_number, std::string_view(buffer.data() + start, end - start))) return true;
      start = end + 1;
    }
    buffer.erase(0, start);
  }
}

namespace {

// The line number of the line that starts at `offset`: the line ends
// before it, plus one. Only run for a match, so the search itself never
// counts lines.
bool LineNumberAt(platform::SharedLog& log, uint64_t offset, uint64_t& number) {
  std::vector<char> piece(kReadPiece);
  number = 1;
  for (uint64_t at = 0; at < offset;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), offset - at));
    const int64_t got = log.ReadAt(at, piece.data(), want);
    if (got <= 0) return false;
    const char* end = piece.data() + got;
    for (const char* p = piece.data(); (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr; ++p) {
      ++number;
    }
    at += static_cast<uint64_t>(got);
  }
  return true;
}

}  // namespace

bool FindProgrammedIdentity(platform::SharedLog& log, const std::string& mac,
                            const std::string& serial, EarlierRecord& mac_match,
                            EarlierRecord& serial_match) {
  mac_match = {};
  serial_match = {};
  // Only lines that hold the text between commas can match; the others
  // are skipped without being split.
  const std::string mac_needle = "," + mac + ",";
  const std::string serial_needle = "," + serial + ",";
  uint64_t mac_offset = 0, serial_offset = 0;  // of the matching lines

  // The buffer holds the rest of a line cut by the previous read, then the
  // new piece; the search covers only whole lines.
  std::vector<char> buffer(kReadPiece * 2);
  size_t held = 0;            // bytes in the buffer
  uint64_t buffer_start = 0;  // file offset of buffer[0]
  ProductionRecord record;
  auto scan = [&](const std::string& needle, size_t whole_end, bool is_mac) {
    const char* begin = buffer.data();
    const char* from = begin;
    const char* to = begin + whole_end;
    for (;;) {
      const char* hit =
          platform::FindBytes(from, static_cast<size_t>(to - from), needle.data(), needle.size());
      if (hit == nullptr) return;
      const char* line_start = hit;
      while (line_start > begin && line_start[-1] != '\n') --line_start;
      const char* line_end = std::find(hit, to, '\n');
      if (ParseRecordLine(std::string_view(line_start, static_cast<size_t>(line_end - line_start)), record) &&
          ProgrammedSuccessfully(record) && (is_mac ? record.mac == mac : record.serial == serial)) {
        EarlierRecord& match = is_mac ? mac_match : serial_match;
        match.found = true;
        match.record = record;
        (is_mac ? mac_offset : serial_offset) = buffer_start + static_cast<uint64_t>(line_start - begin);
        return;
      }
      from = line_end;
    }
  };
  for (;;) {
    if (buffer.size() - held < kReadPiece) buffer.resize(held + kReadPiece);  // a very long line
    const int64_t got = log.ReadAt(buffer_start + held, buffer.data() + held, kReadPiece);
    if (got < 0) return false;
    if (got == 0) break;
    held += static_cast<size_t>(got);
    const char* last_nl = nullptr;
    for (size_t i = held; i-- > 0;) {
      if (buffer[i] == '\n') {
        last_nl = buffer.data() + i;
        break;
      }
    }
    if (last_nl == nullptr) continue;
    const size_t whole_end = static_cast<size_t>(last_nl - buffer.data()) + 1;
    if (!mac_match.found) scan(mac_needle, whole_end, true);
    if (!serial.empty() && !serial_match.found) scan(serial_needle, whole_end, false);
    if (mac_match.found && (serial.empty() || serial_match.found)) break;
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(whole_end),
              buffer.begin() + static_cast<std::ptrdiff_t>(held), buffer.begin());
    held -= whole_end;
    buffer_start += whole_end;
  }
  if (mac_match.found && !LineNumberAt(log, mac_offset, mac_match.line)) return false;
  if (serial_match.found && !LineNumberAt(log, serial_offset, serial_match.line)) return false;
  return true;
}

namespace {

// The checks of OpenProductionLog while it holds the log's lock: 0, 3 or 10.
int CheckUnderLock(const std::string& path, bool rework, ProductionLogSession& session) {
  uint64_t size = 0;
  if (!session.file->Size(size) || (size == 0 && !session.file->Append(RecordHeaderLine()))) {
    PrintError("Cannot write the production log %s\n", path.c_str());
    return kExitInvalidCommandLine;
  }

  const ProductionRecord& r = session.record;
  EarlierRecord mac_match, serial_match;
  if (!FindProgrammedIdentity(*session.file, r.mac, r.serial, mac_match, serial_match)) {
    PrintError("Cannot read the production log %s\n", path.c_str());
    return kExitInvalidCommandLine;
  }
  // A rework programs a returned unit with its own identity again: both
  // values must come from one earlier record.
  const bool own_identity =
      mac_match.found &&
      (r.serial.empty() ? !serial_match.found
                        : serial_match.found && serial_match.record.serial == mac_match.record.serial &&
                              serial_match.record.mac == mac_match.record.mac);
  if (mac_match.found || serial_match.found) {
    if (rework && own_identity) {
      std::printf("Rework of the unit programmed at %s\n", Describe(mac_match).c_str());
    } else {
      if (mac_match.found) {
        PrintError("MAC address %s was already programmed (%s)\n", r.mac.c_str(), Describe(mac_match).c_str());
      }
      if (serial_match.found) {
        PrintError("Serial number %s was already programmed (%s)\n", r.serial.c_str(),
                   Describe(serial_match).c_str());
      }
      if (rework) PrintError("A rework must program the unit's own MAC address and serial number together\n");
      return kExitIdentity;
    }
  }
  if (!session.file->TryClaim(ClaimKey("mac", r.mac)) ||
      (!r.serial.empty() && !session.file->TryClaim(ClaimKey("serial", r.serial)))) {
    PrintError("MAC address %s or serial number %s is being programmed by another run right now\n",
               r.mac.c_str(), r.serial.c_str());
    return kExitIdentity;
  }
  return 0;
}

}  // namespace

int OpenProductionLog(const std::string& path, bool rework, ProductionLogSession& session) {
  session.path = path;
  uint32_t error = 0;
  session.file = platform::OpenSharedLog(path, error);
  if (!session.file) {
    PrintError("Cannot open the production log %s (error %u)\n", path.c_str(), static_cast<unsigned>(error));
    return kExitInvalidCommandLine;
  }
  auto on_long_wait = [&path] {
    PrintWarning("Waiting for another run that is using the production log %s\n", path.c_str());
    std::fflush(stdout);
  };
  if (!session.file->Lock(kLockWarnMs, on_long_wait, error)) {
    PrintError("Cannot lock the production log %s (error %u)\n", path.c_str(), static_cast<unsigned>(error));
    session.file.reset();
    return kExitInvalidCommandLine;
  }
  const int code = CheckUnderLock(path, rework, session);
  session.file->Unlock();
  // A log that cannot be read or written gets no record from this run; a
  // refused identity does, and the claims stay until the run ends.
  if (code == kExitInvalidCommandLine) session.file.reset();
  return code;
}

bool AppendProductionRecord(ProductionLogSession& session) {
  if (!session.file) return true;
  uint32_t error = 0;
  auto on_long_wait = [&session] {
    PrintWarning("Waiting for another run that is using the production log %s\n", session.path.c_str());
    std::fflush(stdout);
  };
  if (!session.file->Lock(kLockWarnMs, on_long_wait, error)) {
    PrintError("Cannot lock the production log %s to write this run's record (error %u)\n",
               session.path.c_str(), static_cast<unsigned>(error));
    return false;
  }
  // A line that an earlier run left cut short gets its line end first, so
  // that this record starts a line of its own.
  std::string text;
  uint64_t size = 0;
  bool ok = session.file->Size(size);
  if (ok && size > 0) {
    char last = '\n';
    ok = session.file->ReadAt(size - 1, &last, 1) == 1;
    // A cut-short line gets a bare LF, which marks it as damaged for
    // every reader; one cut just before its LF was whole and is completed.
    if (ok && last != '\n') text.push_back('\n');
  }
  if (ok && size == 0) text += RecordHeaderLine();
  text += FormatRecordLine(session.record);
  ok = ok && session.file->Append(text);
  session.file->Unlock();
  if (!ok) {
    PrintError("Cannot write this run's record to the production log %s\n", session.path.c_str());
  }
  return ok;
}
