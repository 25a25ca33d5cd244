// File locks with flock(2): the lock belongs to the open file description,
// so it is released when this process unlocks or closes it, or ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/device_control.h"
#include "platform/file_lock.h"

namespace platform {
namespace {

class PosixFileLock final : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override {
    flock(fd_, LOCK_UN);
    close(fd_);
  }
  PosixFileLock(const PosixFileLock&) = delete;
  PosixFileLock& operator=(const PosixFileLock&) = delete;

 private:
  int fd_;
};

// Opens the lock file for reading and writing, creating it when missing.
// A lock file that exists but is not writable for this user (created by
// another user on a shared folder) is opened read-only: flock needs no
// write access.
int OpenLockFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EACCES) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) errno = EACCES;  // the reason it could not be created, not that it is missing
  }
  return fd;
}

}  // namespace

std::unique_ptr<FileLock> AcquireFileLock(const std::string& path, uint32_t warn_after_ms,
                                          const std::function<void()>& on_long_wait,
                                          uint32_t& error) {
  error = 0;
  const int fd = OpenLockFile(path);
  if (fd < 0) {
    error = static_cast<uint32_t>(errno);
    return nullptr;
  }
  const bool taken = WaitForLock(
      [&] {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return LockTry::kTaken;
        if (errno == EINTR || errno == EWOULDBLOCK) return LockTry::kBusy;
        error = static_cast<uint32_t>(errno);
        return LockTry::kFailed;
      },
      warn_after_ms, on_long_wait);
  if (!taken) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFileLock>(fd);
}

}  // namespace platform
