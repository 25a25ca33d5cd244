// The production record: one CSV line per run that programs an EEPROM or
// OTP, appended to a log that stations share, a line before the device is
// written that says a run is programming a unit, and the duplicate guard
// that refuses an identity the log records as programmed, or as being
// programmed by a run that never finished.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shared_log.h"

// One record, field by field, in the column order of the file.
struct ProductionRecord {
  std::string time_utc;      // 2026-12-08T10:00:59Z
  std::string host;          // station
  std::string adapter;       // -X index, 0 when not given
  std::string chip_model;    // ORN5300
  std::string chip_id;       // chip ID register, 0x53000001
  std::string memory;        // EEPROM, OTP F3, OTP F7, OTP
  std::string source_file;   // INI file or binary image as named on the command line
  std::string image_sha256;  // of the bytes written; empty when none were
  std::string mac;           // 00:80:0F:11:22:30
  std::string serial;        // as programmed; empty when the image has none
  std::string bytes_written;
  std::string verify;        // passed, failed, not run; started in a start line
  std::string exit_code;     // as the shell sees it, 0 to 255; empty in a start line
  std::string error;         // the first error message of the run
  std::string rework;        // yes when the run was a rework (ORN5300_REWORK=1), else no
  std::string tool_version;
};

constexpr int kRecordFieldCount = 16;
// The header line's column names, in order.
extern const char* const kRecordColumns[kRecordFieldCount];

// The `verify` value of the line a run appends just before it writes the
// device (a start line; its `exit_code` is empty).
constexpr const char* kVerifyStarted = "started";

// The header line and one record as CSV lines (RFC 4180, CR LF at the end).
// A field that a spreadsheet would take for a formula or a control (one
// that begins with =, +, -, @, a tab or a CR), or that begins with an
// apostrophe, gets an apostrophe in front, which spreadsheets show as
// "this is text" and readers take away again.
std::string RecordHeaderLine();
std::string FormatRecordLine(const ProductionRecord& record);

// Splits one CSV line (without its line end) into fields; false when its
// quoting is broken. Fields stay as written (apostrophes included).
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields);

// What one line of a log is.
enum class LogLineKind {
  kHeader,   // the column names
  kRecord,   // a record, or a start line
  kDamaged,  // cut short by a crash and ended by a later append: no CR, too few fields or broken quoting
  kForeign,  // written by something else: a first line that is not the header, more fields than a
             // record has, or a line ended by CR LF that is no record
};

// Classifies one line of a log, given without its LF (a CR before it is
// taken away, so logs converted to LF line ends read the same); the first
// line of the file may start with a UTF-8 byte-order mark. A record's
// fields are unquoted and lose the apostrophe FormatRecordLine put in
// front.
LogLineKind ClassifyLogLine(std::string_view line, bool first_line, ProductionRecord& record);

// A whole record line, as ClassifyLogLine reads a line after the first.
bool ParseRecordLine(std::string_view line, ProductionRecord& record);

// A record that says the device holds its identity: the read-back compare
// passed.
bool ProgrammedSuccessfully(const ProductionRecord& record);
// A start line: a run was about to write the device.
bool IsStartLine(const ProductionRecord& record);
// The end record of a run that reached the device (its chip is known).
bool EndOfRunOnDevice(const ProductionRecord& record);

// One definition of "the same unit" for every reader of the log: MAC
// addresses whatever their case and separators, serial numbers whatever
// their case, each compared whole.
//
// The twelve upper-case hexadecimal digits of a MAC address written as six
// pairs separated by ':' or by '-' (one kind throughout) or as twelve digits
// alone; nothing when the text is not such an address.
std::optional<std::string> MacDigits(std::string_view text);
// The key under which a logged MAC address groups: its twelve digits, or,
// for a text that is no MAC address, the text in upper case.
std::string MacKey(std::string_view logged);
// A key of MacKey as people read it: 00:80:0F:11:22:30 (other keys as they are).
std::string MacKeyText(const std::string& key);
// The key of a serial number: the text in upper case.
std::string SerialKey(std::string_view serial);

// Calls `fn` with every line of the log that ends with a LF (a last line
// without one is a cut-short append and is skipped), its 1-based line
// number and its text without the LF, reading the file in pieces so that
// memory stays flat. Stops early when `fn` returns false. false on a read
// error.
bool ForEachLogLine(platform::SharedLog& log,
                    const std::function<bool(uint64_t line, std::string_view text)>& fn);

// A line of the log that the guard reports.
struct LogMatch {
  uint64_t line = 0;
  ProductionRecord record;
};

// What the log says about one identity.
struct IdentityHistory {
  // A first line other than the header (the log was written or changed by
  // something else); then nothing else was looked at.
  std::optional<LogMatch> foreign_header;
  // The first line naming the identity whose columns this tool does not know.
  std::optional<LogMatch> foreign_line;
  // The first records with this MAC address, this serial number, that say
  // the unit was programmed.
  std::optional<LogMatch> mac_programmed;
  std::optional<LogMatch> serial_programmed;
  // Start lines with this MAC address or serial number after which no run
  // that reached a device recorded that MAC address: the run was killed or
  // lost power while it programmed.
  std::vector<LogMatch> unfinished;
};

// Reads the whole log for the MAC address `mac` and (when not empty) the
// serial number `serial`, as MacKey and SerialKey compare them. Only lines
// that hold the text are split; the search runs at the speed of the read.
// false on a read error.
bool ReadIdentityHistory(platform::SharedLog& log, const std::string& mac, const std::string& serial,
                         IdentityHistory& history);

// A run's hold on the log from its duplicate check to its record.
struct ProductionLogSession {
  std::string path;
  std::unique_ptr<platform::SharedLog> file;
  ProductionRecord record;  // filled in as the run goes
  bool started = false;     // the start line was appended
};

// Opens (creating with its header line when missing) and locks the log,
// refuses a log this tool cannot read and (when `identity_known`) an
// identity the log records as programmed or as being programmed by a run
// that never finished (unless `rework` and those records are this unit's:
// same MAC address and serial number), and claims the identity against
// runs programming it at this moment. 0; 3 after a message when the log
// cannot be opened, locked or read, or its header or a line naming the
// identity has columns this tool does not know; 10 after a message naming
// the earlier record or the claim.
int OpenProductionLog(const std::string& path, bool rework, bool identity_known, ProductionLogSession& session);

// Appends the session's record as a start line (time now, verify started,
// no exit code) under the log's lock and flushes it. false after a message.
bool AppendStartLine(ProductionLogSession& session);

// From the start line on: the record a stop from outside (Ctrl+C, SIGTERM,
// a closed console) appends before the run ends, made from the session's
// record with the stop's exit code and error.
void ArmStopRecord(ProductionLogSession& session);

// Appends the session's record under the log's lock and flushes it. false
// after a message when it cannot be written.
bool AppendProductionRecord(ProductionLogSession& session);
