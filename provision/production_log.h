// The production record: one CSV line per run that programs an EEPROM or
// OTP, appended to a log that stations share, and the duplicate guard that
// refuses an identity the log already records as programmed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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
  std::string verify;        // passed, failed, not run
  std::string exit_code;     // as the shell sees it, 0 to 255
  std::string error;         // the first error message of the run
  std::string rework;        // yes when the run was a rework (ORN5300_REWORK=1), else no
  std::string tool_version;
};

constexpr int kRecordFieldCount = 16;
// The header line's column names, in order.
extern const char* const kRecordColumns[kRecordFieldCount];

// The header line and one record as CSV lines (RFC 4180, CR LF at the end).
std::string RecordHeaderLine();
std::string FormatRecordLine(const ProductionRecord& record);

// Splits one CSV line (without its line end) into fields; false when its
// quoting is broken.
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields);
// A whole record line as ForEachLogLine gives it (its CR still at the end);
// false for the header line and for damaged lines: a line that does not end
// in CR LF (cut short by a crash and ended by a later append), a wrong
// number of fields, broken quoting.
bool ParseRecordLine(std::string_view line, ProductionRecord& record);

// A record that says the device holds its identity: the read-back compare
// passed.
bool ProgrammedSuccessfully(const ProductionRecord& record);

// Calls `fn` with every line of the log that ends with a LF (a last line
// without one is a cut-short append and is skipped), its 1-based line
// number and its text without the LF (a record's CR stays), reading the file in pieces so
// that memory stays flat. Stops early when `fn` returns false. false on a
// read error.
bool ForEachLogLine(platform::SharedLog& log,
                    const std::function<bool(uint64_t line, std::string_view text)>& fn);

// The first successful record of the log with this MAC address or (when
// not empty) this serial number. Lines are looked at only where the text
// stands between commas, so the search runs at the speed of the read.
struct EarlierRecord {
  bool found = false;
  uint64_t line = 0;
  ProductionRecord record;
};
bool FindProgrammedIdentity(platform::SharedLog& log, const std::string& mac,
                            const std::string& serial, EarlierRecord& mac_match,
                            EarlierRecord& serial_match);

// A run's hold on the log from its duplicate check to its record.
struct ProductionLogSession {
  std::string path;
  std::unique_ptr<platform::SharedLog> file;
  ProductionRecord record;  // filled in as the run goes
};

// Opens (creating with its header line when missing) and locks the log,
// refuses an identity the log records as programmed (unless `rework` and
// the earlier record is this unit's: same MAC address and serial number)
// and claims the identity against runs programming it at this moment. 0;
// 3 after a message when the log cannot be opened, locked or read; 10
// after a message naming the earlier record or the claim.
int OpenProductionLog(const std::string& path, bool rework, ProductionLogSession& session);

// Appends the session's record under the log's lock and flushes it. false
// after a message when it cannot be written.
bool AppendProductionRecord(ProductionLogSession& session);
