#include "provision/production_log.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>

#include "core/byte_search.h"
#include "core/exit_codes.h"
#include "core/output.h"

const char* const kRecordColumns[kRecordFieldCount] = {
    "time_utc",   "host",   "adapter",       "chip_model", "chip_id", "memory",
    "source_file", "image_sha256", "mac",    "serial",     "bytes_written", "verify",
    "exit_code",  "error",  "rework",        "tool_version"};

namespace {

constexpr uint32_t kLockWarnMs = 2000;
// Pieces small enough to stay in the processor's cache between the
// searches for the MAC address and for the serial number.
constexpr size_t kReadPiece = size_t{1} << 18;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// The first characters that make a spreadsheet read a field as a formula
// or a control, and the apostrophe that marks text.
constexpr std::string_view kFormulaStarts = "=+-@\t\r'";

// The fields of a record in column order.
std::vector<std::string*> Fields(ProductionRecord& r) {
  return {&r.time_utc, &r.host,          &r.adapter,  &r.chip_model,    &r.chip_id, &r.memory,
          &r.source_file, &r.image_sha256, &r.mac,   &r.serial,        &r.bytes_written,
          &r.verify,   &r.exit_code,     &r.error,    &r.rework,        &r.tool_version};
}

std::string CsvField(const std::string& text) {
  const bool marked = !text.empty() && kFormulaStarts.find(text[0]) != std::string_view::npos;
  const std::string shown = marked ? "'" + text : text;
  if (shown.find_first_of(",\"\r\n") == std::string::npos) return shown;
  std::string quoted = "\"";
  for (char c : shown) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// A field as written, without the apostrophe CsvField put in front.
std::string Unmarked(std::string field) {
  if (field.size() >= 2 && field[0] == '\'' && kFormulaStarts.find(field[1]) != std::string_view::npos) {
    field.erase(0, 1);
  }
  return field;
}

const std::string& HeaderText() {
  static const std::string text = [] {
    std::string line = RecordHeaderLine();
    line.resize(line.size() - 2);
    return line;
  }();
  return text;
}

// Keys of the claims: the identity key, hashed (FNV-1a, 64 bits).
uint64_t ClaimKey(const std::string& kind, const std::string& value) {
  uint64_t h = 1469598103934665603ull;
  for (char c : kind + ":" + value) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

std::string Describe(const LogMatch& e) {
  return "line " + std::to_string(e.line) + " of the log: " + e.record.time_utc + " on " + e.record.host +
         ", MAC address " + e.record.mac + (e.record.serial.empty() ? std::string() : ", serial number " + e.record.serial);
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

std::string UtcNow() {
  char text[21];
  platform::FormatUtcTime(static_cast<int64_t>(std::time(nullptr)), text);
  return text;
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

LogLineKind ClassifyLogLine(std::string_view line, bool first_line, ProductionRecord& record) {
  if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    if (!first_line) return LogLineKind::kForeign;  // another file's start, pasted in
    line.remove_prefix(kByteOrderMark.size());
  }
  // Every record is written with its CR LF in one piece: a line without
  // the CR was cut short and ended by a later append, or the log was
  // converted to LF line ends. The fields tell which.
  const bool has_cr = !line.empty() && line.back() == '\r';
  if (has_cr) line.remove_suffix(1);
  if (line == HeaderText()) return LogLineKind::kHeader;
  if (first_line) return LogLineKind::kForeign;
  std::vector<std::string> fields;
  const bool split = SplitCsvLine(line, fields);
  if (split && fields.size() > static_cast<size_t>(kRecordFieldCount)) return LogLineKind::kForeign;
  if (!split || fields.size() < static_cast<size_t>(kRecordFieldCount)) {
    return has_cr ? LogLineKind::kForeign : LogLineKind::kDamaged;
  }
  if (fields[0] == kRecordColumns[0]) return LogLineKind::kForeign;  // another header
  std::vector<std::string*> out = Fields(record);
  for (size_t i = 0; i < out.size(); ++i) *out[i] = Unmarked(std::move(fields[i]));
  return LogLineKind::kRecord;
}

bool ParseRecordLine(std::string_view line, ProductionRecord& record) {
  return ClassifyLogLine(line, false, record) == LogLineKind::kRecord;
}

bool ProgrammedSuccessfully(const ProductionRecord& record) { return record.verify == "passed"; }
bool IsStartLine(const ProductionRecord& record) { return record.verify == kVerifyStarted; }
bool EndOfRunOnDevice(const ProductionRecord& record) {
  return !IsStartLine(record) && !record.chip_model.empty();
}

std::optional<std::string> MacDigits(std::string_view text) {
  std::string digits;
  if (text.size() == 12) {
    for (char c : text) {
      if (!IsHexDigit(c)) return std::nullopt;
      digits.push_back(Upper(c));
    }
    return digits;
  }
  if (text.size() != 17) return std::nullopt;
  const char separator = text[2];
  if (separator != ':' && separator != '-') return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i % 3 == 2) {
      if (text[i] != separator) return std::nullopt;
    } else {
      if (!IsHexDigit(text[i])) return std::nullopt;
      digits.push_back(Upper(text[i]));
    }
  }
  return digits;
}

std::string MacKey(std::string_view logged) {
  if (std::optional<std::string> digits = MacDigits(logged)) return *digits;
  return SerialKey(logged);
}

std::string MacKeyText(const std::string& key) {
  const std::optional<std::string> digits = MacDigits(key);
  if (!digits || key.size() != 12) return key;
  std::string text;
  for (size_t i = 0; i < 12; i += 2) {
    if (i > 0) text.push_back(':');
    text.append(*digits, i, 2);
  }
  return text;
}

std::string SerialKey(std::string_view serial) {
  std::string key(serial);
  for (char& c : key) c = Upper(c);
  return key;
}

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

// The line numbers of the lines that start at `offsets` (sorted): the line
// ends before each, plus one. Only run for the lines a report names, so the
// search itself never counts lines.
bool LineNumbersAt(platform::SharedLog& log, const std::vector<uint64_t>& offsets, std::map<uint64_t, uint64_t>& numbers) {
  std::vector<char> piece(kReadPiece);
  uint64_t at = 0;
  uint64_t line_ends = 0;
  for (uint64_t offset : offsets) {
    while (at < offset) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), offset - at));
      const int64_t got = log.ReadAt(at, piece.data(), want);
      if (got <= 0) return false;
      line_ends += static_cast<uint64_t>(std::count(piece.data(), piece.data() + got, '\n'));
      at += static_cast<uint64_t>(got);
    }
    numbers[offset] = line_ends + 1;
  }
  return true;
}

// Whether a MAC address whose twelve digits are `digits` ends just before
// `end` in one of the forms MacDigits takes, reading no byte before `begin`.
bool MacEndsAt(const char* begin, const char* end, const std::string& digits) {
  if (end - begin >= 12 && EqualsCaseless(end - 12, digits)) return true;
  if (end - begin < 17) return false;
  const char* at = end - 17;
  const char separator = at[2];
  if (separator != ':' && separator != '-') return false;
  for (int pair = 0; pair < 6; ++pair) {
    if (pair > 0 && at[pair * 3 - 1] != separator) return false;
    if (!EqualsCaseless(at + pair * 3, std::string_view(digits).substr(static_cast<size_t>(pair) * 2, 2))) return false;
  }
  return true;
}

// Finds the lines of a buffer where a field holds one of two texts: each
// place where a text's last bytes end a field is checked by its
// `matches_before` (the text ends at the pointer given), and each line is
// reported once, by its start. A field ends with a comma, or with the
// quote of a quoted field.
void FindLines(const char* begin, const char* end, std::string_view a, const std::function<bool(const char*)>& a_before,
               std::string_view b, const std::function<bool(const char*)>& b_before, std::vector<size_t>& line_starts) {
  const FieldEnding ending_a{a.substr(a.size() - std::min<size_t>(a.size(), 2))};
  const FieldEnding ending_b{b.substr(b.size() - std::min<size_t>(b.size(), 2))};
  const char* from = begin;
  for (;;) {
    unsigned which = 0;
    const char* hit = FindFieldEnding(from, end, ending_a, ending_b, which);
    if (hit == nullptr) return;
    const char* text_end = hit + 2;
    if (!((which & 1) && a_before(text_end)) && !((which & 2) && b_before(text_end))) {
      from = hit + 1;
      continue;
    }
    const char* line_start = text_end;
    while (line_start > begin && line_start[-1] != '\n') --line_start;
    line_starts.push_back(static_cast<size_t>(line_start - begin));
    const void* nl = std::memchr(text_end, '\n', static_cast<size_t>(end - text_end));
    if (nl == nullptr) return;
    from = static_cast<const char*>(nl) + 1;
  }
}

}  // namespace

bool ReadIdentityHistory(platform::SharedLog& log, const std::string& mac, const std::string& serial,
                         IdentityHistory& history) {
  history = {};
  const std::string mac_key = MacKey(mac);
  const std::optional<std::string> mac_digits = MacDigits(mac);
  const std::string serial_key = SerialKey(serial);
  // A serial number with a quote stands in the file with the quote doubled.
  std::string serial_text;
  for (char c : serial) {
    if (c == '"') serial_text += '"';
    serial_text += c;
  }

  struct Found {
    uint64_t offset;
    ProductionRecord record;
  };
  std::optional<Found> mac_programmed, serial_programmed, foreign;
  std::map<std::string, std::vector<Found>> pending;  // start lines by MAC key, not yet ended

  std::vector<char> buffer(kReadPiece * 2);
  size_t held = 0;            // bytes in the buffer
  uint64_t buffer_start = 0;  // file offset of buffer[0]
  std::vector<size_t> lines;
  ProductionRecord record;
  for (;;) {
    if (buffer.size() - held < kReadPiece) buffer.resize(held + kReadPiece);  // a very long line
    const int64_t got = log.ReadAt(buffer_start + held, buffer.data() + held, kReadPiece);
    if (got < 0) return false;
    const bool at_end = got == 0;
    held += static_cast<size_t>(got);
    const char* begin = buffer.data();
    const void* last_nl = nullptr;
    for (size_t i = held; i-- > 0;) {
      if (buffer[i] == '\n') {
        last_nl = begin + i;
        break;
      }
    }
    if (last_nl == nullptr) {
      if (at_end) break;  // a rest without a line end is an append still going on, or cut short
      continue;
    }
    const size_t whole_end = static_cast<size_t>(static_cast<const char*>(last_nl) - begin) + 1;
    const char* end = begin + whole_end;

    lines.clear();
    if (buffer_start == 0) {
      // The header tells whether this is a log this tool can read at all.
      const char* nl = static_cast<const char*>(std::memchr(begin, '\n', whole_end));
      if (ClassifyLogLine(std::string_view(begin, static_cast<size_t>(nl - begin)), true, record) != LogLineKind::kHeader) {
        history.foreign_header = LogMatch{1, {}};
        history.foreign_header->record.time_utc = std::string(begin, static_cast<size_t>(nl - begin));
        return true;
      }
    }
    const std::string_view mac_text = mac_digits ? std::string_view(*mac_digits) : std::string_view(mac);
    auto mac_before = [&](const char* text_end) {
      if (mac_digits) return MacEndsAt(begin, text_end, *mac_digits);
      return text_end - begin >= static_cast<std::ptrdiff_t>(mac.size()) && EqualsCaseless(text_end - mac.size(), mac);
    };
    auto serial_before = [&](const char* text_end) {
      return text_end - begin >= static_cast<std::ptrdiff_t>(serial_text.size()) &&
             EqualsCaseless(text_end - serial_text.size(), serial_text);
    };
    FindLines(begin, end, mac_text, mac_before, serial_text, serial_before, lines);
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    for (size_t start : lines) {
      const char* line_end = static_cast<const char*>(std::memchr(begin + start, '\n', whole_end - start));
      const uint64_t offset = buffer_start + start;
      const LogLineKind kind = ClassifyLogLine(std::string_view(begin + start, static_cast<size_t>(line_end - begin - start)),
                                               offset == 0, record);
      if (kind == LogLineKind::kForeign) {
        if (!foreign) foreign = Found{offset, {}};
        continue;
      }
      if (kind != LogLineKind::kRecord) continue;
      const bool same_mac = MacKey(record.mac) == mac_key;
      const bool same_serial = !serial.empty() && SerialKey(record.serial) == serial_key;
      if (!same_mac && !same_serial) continue;
      if (IsStartLine(record)) {
        pending[MacKey(record.mac)].push_back(Found{offset, record});
      } else if (EndOfRunOnDevice(record)) {
        pending.erase(MacKey(record.mac));
      }
      if (ProgrammedSuccessfully(record)) {
        if (same_mac && !mac_programmed) mac_programmed = Found{offset, record};
        if (same_serial && !serial_programmed) serial_programmed = Found{offset, record};
      }
    }

    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(whole_end),
              buffer.begin() + static_cast<std::ptrdiff_t>(held), buffer.begin());
    held -= whole_end;
    buffer_start += whole_end;
    if (at_end) break;
  }

  // Line numbers for what the report names.
  std::vector<uint64_t> offsets;
  for (const auto* found : {&mac_programmed, &serial_programmed, &foreign}) {
    if (*found) offsets.push_back((*found)->offset);
  }
  for (const auto& [key, starts] : pending) {
    for (const Found& f : starts) offsets.push_back(f.offset);
  }
  std::sort(offsets.begin(), offsets.end());
  std::map<uint64_t, uint64_t> numbers;
  if (!LineNumbersAt(log, offsets, numbers)) return false;
  auto match = [&numbers](const std::optional<Found>& found) -> std::optional<LogMatch> {
    if (!found) return std::nullopt;
    return LogMatch{numbers[found->offset], found->record};
  };
  history.mac_programmed = match(mac_programmed);
  history.serial_programmed = match(serial_programmed);
  history.foreign_line = match(foreign);
  for (const auto& [key, starts] : pending) {
    for (const Found& f : starts) history.unfinished.push_back(LogMatch{numbers[f.offset], f.record});
  }
  std::sort(history.unfinished.begin(), history.unfinished.end(),
            [](const LogMatch& a, const LogMatch& b) { return a.line < b.line; });
  return true;
}

namespace {

// The checks of OpenProductionLog while it holds the log's lock: 0, 3 or 10.
int CheckUnderLock(const std::string& path, bool rework, bool identity_known, ProductionLogSession& session) {
  uint64_t size = 0;
  if (!session.file->Size(size) || (size == 0 && !session.file->Append(RecordHeaderLine()))) {
    PrintError("Cannot write the production log %s\n", path.c_str());
    return kExitInvalidCommandLine;
  }

  const ProductionRecord& r = session.record;
  IdentityHistory history;
  // An identity not known yet (a pool's) is looked for under no name: the
  // read still checks that the log is one this tool can append to.
  const std::string mac = identity_known ? r.mac : std::string();
  const std::string serial = identity_known ? r.serial : std::string();
  if (!ReadIdentityHistory(*session.file, mac, serial, history)) {
    PrintError("Cannot read the production log %s\n", path.c_str());
    return kExitInvalidCommandLine;
  }
  // A log this tool does not know the columns of cannot vouch for any
  // identity: it is refused rather than passed over.
  if (history.foreign_header) {
    PrintError("The production log %s does not start with the header line this tool writes (line 1): "
               "its columns are unknown\n", path.c_str());
    return kExitInvalidCommandLine;
  }
  if (history.foreign_line) {
    PrintError("Line %llu of the production log %s names this unit but is no record this tool can read\n",
               static_cast<unsigned long long>(history.foreign_line->line), path.c_str());
    return kExitInvalidCommandLine;
  }

  // A rework programs a returned unit with its own identity again: every
  // earlier record must carry both values of this run.
  std::vector<const LogMatch*> earlier;
  for (const auto* m : {&history.mac_programmed, &history.serial_programmed}) {
    if (*m) earlier.push_back(&**m);
  }
  for (const LogMatch& m : history.unfinished) earlier.push_back(&m);
  if (!earlier.empty()) {
    const bool own_identity = std::all_of(earlier.begin(), earlier.end(), [&r](const LogMatch* m) {
      return MacKey(m->record.mac) == MacKey(r.mac) && SerialKey(m->record.serial) == SerialKey(r.serial);
    });
    if (rework && own_identity) {
      std::printf("Rework of the unit programmed at %s\n", Describe(*earlier.front()).c_str());
    } else {
      if (history.mac_programmed) {
        PrintError("MAC address %s was already programmed (%s)\n", r.mac.c_str(),
                   Describe(*history.mac_programmed).c_str());
      }
      if (history.serial_programmed) {
        PrintError("Serial number %s was already programmed (%s)\n", r.serial.c_str(),
                   Describe(*history.serial_programmed).c_str());
      }
      for (const LogMatch& m : history.unfinished) {
        PrintError("A run that was programming this identity never finished (%s)\n", Describe(m).c_str());
      }
      if (rework) PrintError("A rework must program the unit's own MAC address and serial number together\n");
      return kExitIdentity;
    }
  }
  if (!identity_known) return 0;
  if (!session.file->TryClaim(ClaimKey("mac", MacKey(r.mac))) ||
      (!r.serial.empty() && !session.file->TryClaim(ClaimKey("serial", SerialKey(r.serial))))) {
    PrintError("MAC address %s or serial number %s is being programmed by another run right now\n",
               r.mac.c_str(), r.serial.c_str());
    return kExitIdentity;
  }
  return 0;
}

bool LockLog(ProductionLogSession& session, const char* purpose) {
  uint32_t error = 0;
  auto on_long_wait = [&session] {
    PrintWarning("Waiting for another run that is using the production log %s\n", session.path.c_str());
    std::fflush(stdout);
  };
  if (session.file->Lock(kLockWarnMs, on_long_wait, error)) return true;
  PrintError("Cannot lock the production log %s%s (error %u)\n", session.path.c_str(), purpose,
             static_cast<unsigned>(error));
  return false;
}

// Appends `line` under the log's lock, flushed; a line that an earlier run
// left cut short gets its line end first, so that this one starts a line
// of its own.
bool AppendLine(ProductionLogSession& session, const std::string& line, const char* purpose) {
  if (!LockLog(session, purpose)) return false;
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
  text += line;
  ok = ok && session.file->Append(text);
  session.file->Unlock();
  return ok;
}

}  // namespace

int OpenProductionLog(const std::string& path, bool rework, bool identity_known, ProductionLogSession& session) {
  session.path = path;
  uint32_t error = 0;
  session.file = platform::OpenSharedLog(path, error);
  if (!session.file) {
    PrintError("Cannot open the production log %s (error %u)\n", path.c_str(), static_cast<unsigned>(error));
    return kExitInvalidCommandLine;
  }
  if (!LockLog(session, "")) {
    session.file.reset();
    return kExitInvalidCommandLine;
  }
  const int code = CheckUnderLock(path, rework, identity_known, session);
  session.file->Unlock();
  // A log that cannot be read, written or understood gets no record from
  // this run; a refused identity does, and the claims stay until the run
  // ends.
  if (code == kExitInvalidCommandLine) session.file.reset();
  return code;
}

bool AppendStartLine(ProductionLogSession& session) {
  if (!session.file) return true;
  ProductionRecord start = session.record;
  start.time_utc = UtcNow();
  start.verify = kVerifyStarted;
  start.exit_code.clear();
  start.error.clear();
  if (!AppendLine(session, FormatRecordLine(start), " to record that this run programs the device")) {
    PrintError("Cannot write to the production log %s: the device is not programmed\n", session.path.c_str());
    return false;
  }
  session.started = true;
  return true;
}

void ArmStopRecord(ProductionLogSession& session) {
  if (!session.file || !session.started) return;
  std::array<std::string, platform::kStopKinds> lines;
  for (size_t i = 0; i < platform::kStopKinds; ++i) {
    const auto kind = static_cast<platform::StopKind>(i);
    ProductionRecord r = session.record;
    r.time_utc.clear();
    r.exit_code = std::to_string(platform::StopExitCode(kind));
    r.error = "The run was stopped by ";
    r.error += platform::StopText(kind);
    // Everything after the first column, which the stop fills in.
    const std::string line = FormatRecordLine(r);
    lines[i] = line.substr(line.find(','));
  }
  session.file->ArmStopRecord(lines);
}

bool AppendProductionRecord(ProductionLogSession& session) {
  if (!session.file) return true;
  const bool ok = AppendLine(session, FormatRecordLine(session.record), " to write this run's record");
  if (!ok) PrintError("Cannot write this run's record to the production log %s\n", session.path.c_str());
  return ok;
}
