// Advisory file locks that keep runs on different stations (or in
// different processes of one station) apart while they share a file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// An exclusive lock on one file, held until the object is destroyed.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

// How often a waiting caller tries the lock again, in milliseconds.
constexpr uint32_t kFileLockPollMs = 50;

// One try of a lock that another process may hold.
enum class LockTry { kTaken, kBusy, kFailed };

// Tries `try_lock` until it is taken or fails, waiting kFileLockPollMs
// between tries; once the wait has lasted longer than `warn_after_ms`,
// `on_long_wait` is called (once) and the wait goes on. True when taken.
bool WaitForLock(const std::function<LockTry()>& try_lock, uint32_t warn_after_ms,
                 const std::function<void()>& on_long_wait);

// Opens `path` (creating it when missing; it is never deleted, so every
// holder locks the same file) and takes an exclusive lock on it. While
// another process holds the lock the call waits, trying again every
// kFileLockPollMs; once the wait has lasted longer than `warn_after_ms`,
// `on_long_wait` is called (once) and the wait goes on. Returns null with
// the system error number in `error` when the file cannot be opened or the
// lock fails for another reason than being held elsewhere. The handle is
// not passed on to child processes.
std::unique_ptr<FileLock> AcquireFileLock(const std::string& path, uint32_t warn_after_ms,
                                          const std::function<void()>& on_long_wait,
                                          uint32_t& error);

}  // namespace platform
