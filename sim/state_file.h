// The state file on disk: opened for reading and writing, locked
// exclusively from open to close so that two runs on one simulated device
// are serialised, and replaced atomically when saved.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class StateFile {
 public:
  StateFile() = default;
  ~StateFile();
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;

  // Opens `path` and waits for the exclusive lock. Returns 0, or the Windows
  // error number of the failure: 2 when the file does not exist, 5 when it
  // cannot be read or written.
  uint32_t Open(const std::string& path);

  // Reads the whole file.
  bool ReadAll(std::string& content, std::string& problem);

  // Replaces the file with `content` atomically: a temporary file beside it
  // is written, flushed to disk and renamed over the original. The lock is
  // held until Close.
  bool Replace(const std::string& content, std::string& problem);

  // Releases the lock and closes the file.
  void Close();

  bool is_open() const { return handle_ != kNoHandle; }
  const std::string& path() const { return path_; }

 private:
  static constexpr intptr_t kNoHandle = -1;
  std::string path_;
  intptr_t handle_ = kNoHandle;  // file descriptor or Windows HANDLE
};

// Writes `content` to `path` atomically without a lock on an existing file
// (for a file that is being created). False and a reason on failure.
bool WriteNewFileAtomically(const std::string& path, const std::string& content,
                            std::string& problem);

}  // namespace sim
