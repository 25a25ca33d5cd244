// Exclusive locks that keep runs on different stations (or in different
// processes of one station) apart while they share a file, on a local disk
// or a network share. The identity file and the production log use one
// primitive: a byte-range lock far past the end of the file (fcntl
// open-file-description locks on Linux, which NFS and CIFS clients pass on
// to the server; LockFileEx on Windows), so it never stands in the way of a
// read or a write, and it goes away with the process that holds it, even
// when the process crashes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Where the locks lie: one byte for the lock of a whole file, and one byte
// per claim key above it. Far past the end of any real file.
constexpr uint64_t kFileLockOffset = uint64_t{1} << 40;
constexpr uint64_t kClaimBase = uint64_t{1} << 41;
constexpr uint64_t kClaimSpan = uint64_t{1} << 40;

// How often a waiting caller tries the lock again, in milliseconds.
constexpr uint32_t kFileLockPollMs = 50;

// One try of a lock that another process may hold.
enum class LockTry { kTaken, kBusy, kFailed };

// Tries `try_lock` until it is taken or fails, waiting kFileLockPollMs
// between tries; once the wait has lasted longer than `warn_after_ms`,
// `on_long_wait` is called (once) and the wait goes on. True when taken.
bool WaitForLock(const std::function<LockTry()>& try_lock, uint32_t warn_after_ms,
                 const std::function<void()>& on_long_wait);

// An exclusive lock on one file, held until the object is destroyed.
class FileLock {
 public:
  virtual ~FileLock() = default;
  // How many names (hard links) the locked file has.
  virtual uint32_t LinkCount() const = 0;
  // True while the path the lock was taken through still names the locked
  // file (it was not removed, renamed away or replaced by another file).
  virtual bool StillNamed() const = 0;
};

// Takes the exclusive lock of the existing file `path` itself, waiting
// while another process holds it (see WaitForLock). Once taken, `path`
// must still name the file that was locked: a file replaced or removed and
// made anew meanwhile (for example by the write-back of the run that held
// the lock before) is opened and locked again. The file is opened for
// reading and writing, shared in every way, and its handle is not passed
// on to child processes. Null with the system error number in `error` when
// the file cannot be opened (2 or ENOENT: missing; 5 or EACCES: not
// writable) or the lock fails for another reason than being held elsewhere.
std::unique_ptr<FileLock> LockSharedFile(const std::string& path, uint32_t warn_after_ms,
                                         const std::function<void()>& on_long_wait, uint32_t& error);

// The system error numbers of a missing file and of a file this user may
// not open for writing, as LockSharedFile reports them.
bool IsMissingFileError(uint32_t error);
bool IsAccessError(uint32_t error);

}  // namespace platform
