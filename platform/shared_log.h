// An append-only file that runs on several stations share (for example on
// a network share): byte-range locks (platform/file_lock.h) serve as the
// exclusive lock of the file and as claims on single keys, every append is
// flushed to the disk, and a lock or claim goes away with the process that
// held it, even when it crashes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// How a run can be stopped from outside while it runs.
enum class StopKind {
  kInterrupt,  // Ctrl+C or Ctrl+Break, SIGINT
  kTerminate,  // SIGTERM; Windows: log-off or shut-down
  kHangUp,     // the terminal or console window closed, SIGHUP
};
constexpr size_t kStopKinds = 3;

// The exit status of a run stopped that way, as a shell shows it: 128 plus
// the POSIX signal number (130, 143, 129), on Windows too.
int StopExitCode(StopKind kind);
// "Ctrl+C", "a termination request", "the console was closed".
const char* StopText(StopKind kind);

class SharedLog {
 public:
  virtual ~SharedLog() = default;

  // Takes the exclusive lock of the file, waiting while another process
  // holds it (trying again every kFileLockPollMs); once the wait has lasted
  // longer than `warn_after_ms`, `on_long_wait` is called once. false with
  // the system error number when the lock fails otherwise.
  virtual bool Lock(uint32_t warn_after_ms, const std::function<void()>& on_long_wait,
                    uint32_t& error) = 0;
  virtual void Unlock() = 0;

  // Claims `key` for this process until the log is closed or the process
  // ends; false when another process holds the claim.
  virtual bool TryClaim(uint64_t key) = 0;

  // Size of the file in bytes; false on an error.
  virtual bool Size(uint64_t& size) = 0;
  // Reads up to `n` bytes from `offset`; the number read (0 at the end), or
  // -1 on an error.
  virtual int64_t ReadAt(uint64_t offset, char* buffer, size_t n) = 0;
  // Writes the bytes at the end of the file and flushes them to the disk.
  virtual bool Append(const std::string& bytes) = 0;

  // Makes a stop of the process from outside append a line to this log
  // before the process ends. `lines` holds, for each StopKind, a line
  // without its first column (the time, which the stop fills in as
  // 2026-12-08T10:00:59Z): it starts with the comma and ends with its line
  // end. From the first call on, Ctrl+C, SIGTERM and SIGHUP (on Windows the
  // console's control events) append the line of their kind under the
  // log's lock, ending first a line left cut short, flush it, and end the
  // process with StopExitCode. A later call replaces the lines. One log of
  // the process at a time.
  virtual void ArmStopRecord(const std::array<std::string, kStopKinds>& lines) = 0;
  // After the call a stop appends nothing and ends the process as it
  // would have without ArmStopRecord.
  virtual void DisarmStopRecord() = 0;
};

// Holds off a stop from outside for as long as it lives: a stop that comes
// meanwhile takes effect when it is destroyed, and one that is being
// recorded is finished (and ends the process) before it is constructed.
// For the caller's own final append after DisarmStopRecord.
class StopHold {
 public:
  StopHold();
  ~StopHold();
  StopHold(const StopHold&) = delete;
  StopHold& operator=(const StopHold&) = delete;

 private:
  alignas(8) unsigned char saved_[128];  // what the hold restores (a signal mask)
};

// Opens the log for reading and appending, creating it when missing. Null
// with the system error number when it cannot be opened.
std::unique_ptr<SharedLog> OpenSharedLog(const std::string& path, uint32_t& error);

// The name of this computer.
std::string HostName();

// The time `seconds` after 1970-01-01T00:00:00Z as 2026-12-08T10:00:59Z in
// `text` (20 characters and a zero byte). Uses no library call, so that a
// signal handler may use it.
void FormatUtcTime(int64_t seconds, char text[21]);

}  // namespace platform
