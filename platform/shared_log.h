// An append-only file that runs on several stations share (for example on
// a network share): byte-range locks serve as the exclusive lock of the
// file and as claims on single keys, every append is flushed to the disk,
// and a lock or claim goes away with the process that held it, even when
// it crashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

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
};

// Opens the log for reading and appending, creating it when missing. Null
// with the system error number when it cannot be opened.
std::unique_ptr<SharedLog> OpenSharedLog(const std::string& path, uint32_t& error);

// The name of this computer.
std::string HostName();

}  // namespace platform
