// Reading a production log line by line: the header line, the records and
// the damaged lines, with the counts every report gives about them. Memory
// stays flat in the size of the log: a line is held only while it is
// looked at, and a line longer than any record can be is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "provision/production_log.h"

namespace record {

// Where the bytes of a log come from: read from the start in pieces, and
// read again from the start for a second pass.
class LogSource {
 public:
  virtual ~LogSource() = default;
  // Up to `n` bytes; the number read, 0 at the end, -1 on an error.
  virtual int64_t Read(char* buffer, size_t n) = 0;
  // Back to the first byte; false on an error.
  virtual bool Rewind() = 0;
  // What went wrong with the last failed call, for a message.
  virtual std::string ErrorText() const { return ""; }
};

// A log file, opened for reading only: a missing file is an error and is
// never created, and the runs that append to it at the same time are not
// hindered.
class FileSource final : public LogSource {
 public:
  // Null with `error` set ("cannot open PATH: reason") when the file
  // cannot be opened.
  static std::unique_ptr<FileSource> Open(const std::string& path, std::string& error);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  int64_t Read(char* buffer, size_t n) override;
  bool Rewind() override;
  std::string ErrorText() const override { return error_; }

 private:
  explicit FileSource(std::FILE* file) : file_(file) {}
  std::FILE* file_;
  std::string error_;
};

// The log a command names: a file, or standard input for "-" (read whole
// first, so that a command may read it twice; for example the CSV that
// `orn5300db export` writes, piped in). Null with `error` set.
std::unique_ptr<LogSource> OpenLogSource(const std::string& path, std::string& error);

// A log held in memory (a copy of the text), for standard input, tests and
// the fuzz target.
class TextSource final : public LogSource {
 public:
  explicit TextSource(std::string_view text) : text_(text) {}
  int64_t Read(char* buffer, size_t n) override;
  bool Rewind() override {
    at_ = 0;
    return true;
  }

 private:
  std::string text_;
  size_t at_ = 0;
};

// What a line of the log is.
enum class LineKind {
  kHeader,   // the column names
  kRecord,   // a record or a start line: 16 fields, as ParseRecordLine takes it
  kDamaged,  // anything else, and a last line without a line end
};

struct LogLine {
  uint64_t number = 0;  // from 1
  LineKind kind = LineKind::kDamaged;
  bool terminated = true;   // false for a last line without a line end
  ProductionRecord record;  // for kRecord
};

// The longest line the reader looks at; longer ones are damaged. A record
// is far shorter: its longest fields are a file name and a message.
constexpr size_t kMaxLineBytes = size_t{1} << 20;
// How many damaged line numbers the counts keep.
constexpr size_t kListedDamagedLines = 10;

// What every report says about the lines of the log.
struct LineCounts {
  uint64_t lines = 0;
  uint64_t header_lines = 0;
  uint64_t records = 0;      // records of runs
  uint64_t start_lines = 0;  // lines a run appends before it writes a device
  uint64_t damaged = 0;
  std::vector<uint64_t> damaged_lines;  // the first kListedDamagedLines
  bool unterminated_last_line = false;  // cut short, or still being written
  uint64_t bytes = 0;                   // read in all

  void Add(const LogLine& line);
};

// Reads the log from its first byte, at most `limit` bytes, and calls `fn`
// with every line in order. The counts cover the lines read. false with
// `error` set ("cannot read ...") on a read error.
bool ReadLog(LogSource& source, const std::string& name, uint64_t limit,
             const std::function<void(const LogLine&)>& fn, LineCounts& counts, std::string& error);

}  // namespace record
