#include "database/spool.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/file_lock.h"
#include "platform/file_replace.h"
#include "platform/shared_log.h"
#include "platform/user_dirs.h"

namespace db {

namespace {

constexpr uint32_t kSpoolLockWarnMs = 2000;

std::unique_ptr<platform::FileLock> LockSpool(const std::string& path, std::string& error) {
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  // The spool itself is locked (made first when missing): a delivery that
  // rewrites it puts a new file in its place, which the next locker finds.
  uint32_t code = 0;
  std::unique_ptr<platform::FileLock> lock;
  if (platform::OpenSharedLog(path, code)) lock = platform::LockSharedFile(path, kSpoolLockWarnMs, [] {}, code);
  if (!lock) error = "cannot lock the spool " + path + " (error " + std::to_string(code) + ")";
  return lock;
}

// Appends whole lines; a line an earlier writer left cut short is ended
// with a bare LF first, which marks it as damaged.
bool AppendLines(const std::string& path, const std::string& lines, std::string& error) {
  uint32_t code = 0;
  std::unique_ptr<platform::SharedLog> file = platform::OpenSharedLog(path, code);
  if (!file) {
    error = "cannot open the spool " + path + " (error " + std::to_string(code) + ")";
    return false;
  }
  std::string text;
  uint64_t size = 0;
  bool ok = file->Size(size);
  if (ok && size > 0) {
    char last = '\n';
    ok = file->ReadAt(size - 1, &last, 1) == 1;
    if (ok && last != '\n') text.push_back('\n');
  }
  text += lines;
  if (!ok || !file->Append(text)) {
    error = "cannot write the spool " + path;
    return false;
  }
  return true;
}

// The record's fields in column order.
std::vector<std::string*> FieldsOf(ProductionRecord& r) {
  return {&r.time_utc, &r.host,          &r.adapter, &r.chip_model, &r.chip_id,       &r.memory,
          &r.source_file, &r.image_sha256, &r.mac,   &r.serial,     &r.bytes_written, &r.verify,
          &r.exit_code, &r.error,          &r.rework, &r.tool_version};
}

// An entry stays on one line whatever its texts hold: '%', CR and LF in a
// field are written as %25, %0D and %0A.
std::string Encoded(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += "%25";
    else if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else out += c;
  }
  return out;
}

bool Decode(std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const std::string code = text.substr(i + 1, 2);
    if (code == "25") out += '%';
    else if (code == "0D") out += '\r';
    else if (code == "0A") out += '\n';
    else return false;
    i += 2;
  }
  text = out;
  return true;
}

std::string EntryLine(const std::string& unit_id, const ProductionRecord& record) {
  ProductionRecord encoded = record;
  for (std::string* field : FieldsOf(encoded)) *field = Encoded(*field);
  return unit_id + "," + FormatRecordLine(encoded);
}

// One entry (a line without its LF): false for a damaged line.
bool ParseEntry(std::string_view line, std::string& unit_id, ProductionRecord& record) {
  if (line.empty() || line.back() != '\r') return false;
  line.remove_suffix(1);
  std::vector<std::string> fields;
  if (!SplitCsvLine(line, fields) || fields.size() != kRecordFieldCount + 1) return false;
  unit_id = fields[0];
  if (unit_id.empty() || unit_id.size() > 40) return false;
  for (char c : unit_id) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  size_t i = 1;
  for (std::string* field : FieldsOf(record)) {
    *field = std::move(fields[i++]);
    if (!Decode(*field)) return false;
  }
  return true;
}

}  // namespace

std::string DefaultSpoolPath() {
  const char* path = std::getenv(kSpoolVariable);
  if (path != nullptr && path[0] != '\0') return path;
  return platform::UserStateFile("orn5300cli", "spool");
}

bool AppendToSpool(const std::string& path, const std::string& unit_id,
                   const ProductionRecord& record, std::string& error) {
  std::unique_ptr<platform::FileLock> lock = LockSpool(path, error);
  if (!lock) return false;
  return AppendLines(path, EntryLine(unit_id, record), error);
}

Result DeliverSpool(LineDatabase& database, const std::string& path, SpoolReport& report) {
  report = SpoolReport{};
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  std::string error;
  std::unique_ptr<platform::FileLock> lock = LockSpool(path, error);
  if (!lock) return {Status::kFailed, error, {}};
  std::string content;
  if (!platform::ReadWholeFile(path, content)) {
    return {Status::kFailed, "cannot read the spool " + path, {}};
  }

  std::string kept;
  std::string rejected;
  Result result;
  size_t begin = 0;
  while (begin < content.size()) {
    size_t end = content.find('\n', begin);
    // A last line without its LF is an append cut short.
    const std::string_view line = std::string_view(content).substr(
        begin, end == std::string::npos ? std::string::npos : end - begin);
    const std::string whole = std::string(line) + "\n";
    begin = end == std::string::npos ? content.size() : end + 1;
    if (line.empty()) continue;
    if (!result.ok()) {  // the connection is gone: the rest waits
      kept += whole;
      ++report.kept;
      continue;
    }
    std::string unit_id;
    ProductionRecord record;
    if (end == std::string::npos || !ParseEntry(line, unit_id, record)) {
      rejected += whole;
      ++report.rejected;
      report.messages.push_back("a damaged line of the spool");
      continue;
    }
    const Result delivered = database.Finish(unit_id, record);
    if (delivered.ok()) {
      ++report.delivered;
    } else if (delivered.status == Status::kConnectionLost) {
      result = delivered;
      kept += whole;
      ++report.kept;
    } else {
      rejected += whole;
      ++report.rejected;
      report.messages.push_back("unit " + unit_id + ": " + delivered.message);
    }
  }
  if (!rejected.empty() && !AppendLines(path + ".rejected", rejected, error)) {
    return {Status::kFailed, error, {}};
  }
  const bool rewritten =
      kept.empty() ? (std::filesystem::remove(path, ec), !ec)
                   : platform::ReplaceFileContents(path, reinterpret_cast<const uint8_t*>(kept.data()),
                                                   kept.size());
  if (!rewritten) return {Status::kFailed, "cannot rewrite the spool " + path, {}};
  return result;
}

}  // namespace db
