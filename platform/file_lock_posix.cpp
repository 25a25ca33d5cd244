// File locks with fcntl open-file-description locks: the lock belongs to the
// open file, not to the process, so the process may open and close the same
// file elsewhere (the INI reader does) without losing it. NFS and CIFS
// clients pass byte-range locks on to the server, so stations on other
// computers see them too.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"
#include "platform/posix_io.h"

namespace platform {
namespace {

class PosixFileLock final : public FileLock {
 public:
  PosixFileLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFileLock() override {
    SetOfdLock(fd_, F_UNLCK, kFileLockOffset);
    close(fd_);
  }
  PosixFileLock(const PosixFileLock&) = delete;
  PosixFileLock& operator=(const PosixFileLock&) = delete;

  uint32_t LinkCount() const override {
    struct stat st {};
    return fstat(fd_, &st) == 0 ? static_cast<uint32_t>(st.st_nlink) : 0;
  }

  bool StillNamed() const override {
    struct stat held {}, named {};
    return fstat(fd_, &held) == 0 && stat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

std::unique_ptr<FileLock> LockSharedFile(const std::string& path, uint32_t warn_after_ms,
                                         const std::function<void()>& on_long_wait, uint32_t& error) {
  error = 0;
  bool warned = false;
  auto warn_once = [&] {
    if (!warned && on_long_wait) on_long_wait();
    warned = true;
  };
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      error = static_cast<uint32_t>(errno);
      return nullptr;
    }
    const bool taken = WaitForLock(
        [&] {
          if (SetOfdLock(fd, F_WRLCK, kFileLockOffset)) return LockTry::kTaken;
          if (errno == EINTR || errno == EACCES || errno == EAGAIN) return LockTry::kBusy;
          error = static_cast<uint32_t>(errno);
          return LockTry::kFailed;
        },
        warned ? UINT32_MAX : warn_after_ms, warn_once);
    if (!taken) {
      close(fd);
      return nullptr;
    }
    auto lock = std::make_unique<PosixFileLock>(fd, path);
    if (lock->StillNamed()) return lock;
    // The file was replaced or removed while this run waited: the lock is
    // on a file nobody reads any more. Lock whatever the name holds now.
  }
}

bool IsMissingFileError(uint32_t error) { return error == ENOENT; }
bool IsAccessError(uint32_t error) { return error == EACCES || error == EPERM || error == EROFS; }

}  // namespace platform
