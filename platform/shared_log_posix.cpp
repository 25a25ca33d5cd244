// The shared log with POSIX record locks (fcntl), which also work on NFS and
// SMB mounts. Record locks belong to the process and go away when it closes
// any descriptor of the file, so the log keeps its one descriptor and all
// reads go through it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"
#include "platform/shared_log.h"

namespace platform {
namespace {

// The locks live far past the end of any real log, where no read or write
// ever goes: one byte for the lock of the file, and one byte per claim key.
constexpr off_t kLockOffset = off_t{1} << 40;
constexpr off_t kClaimBase = off_t{1} << 41;
constexpr uint64_t kClaimSpan = uint64_t{1} << 40;

bool SetLock(int fd, short type, off_t offset) {
  struct flock region {};
  region.l_type = type;
  region.l_whence = SEEK_SET;
  region.l_start = offset;
  region.l_len = 1;
  return fcntl(fd, F_SETLK, &region) == 0;
}

class PosixSharedLog final : public SharedLog {
 public:
  explicit PosixSharedLog(int fd) : fd_(fd) {}
  ~PosixSharedLog() override { close(fd_); }
  PosixSharedLog(const PosixSharedLog&) = delete;
  PosixSharedLog& operator=(const PosixSharedLog&) = delete;

  bool Lock(uint32_t warn_after_ms, const std::function<void()>& on_long_wait,
            uint32_t& error) override {
    error = 0;
    return WaitForLock(
        [&] {
          if (SetLock(fd_, F_WRLCK, kLockOffset)) return LockTry::kTaken;
          if (errno == EINTR || errno == EACCES || errno == EAGAIN) return LockTry::kBusy;
          error = static_cast<uint32_t>(errno);
          return LockTry::kFailed;
        },
        warn_after_ms, on_long_wait);
  }

  void Unlock() override { SetLock(fd_, F_UNLCK, kLockOffset); }

  bool TryClaim(uint64_t key) override {
    return SetLock(fd_, F_WRLCK, kClaimBase + static_cast<off_t>(key % kClaimSpan));
  }

  bool Size(uint64_t& size) override {
    const off_t end = lseek(fd_, 0, SEEK_END);
    if (end < 0) return false;
    size = static_cast<uint64_t>(end);
    return true;
  }

  int64_t ReadAt(uint64_t offset, char* buffer, size_t n) override {
    for (;;) {
      const ssize_t got = pread(fd_, buffer, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      return got;
    }
  }

  bool Append(const std::string& bytes) override {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      const ssize_t n = write(fd_, data, left);  // O_APPEND: always at the end
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data += n;
      left -= static_cast<size_t>(n);
    }
    return fsync(fd_) == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<SharedLog> OpenSharedLog(const std::string& path, uint32_t& error) {
  error = 0;
  const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = static_cast<uint32_t>(errno);
    return nullptr;
  }
  return std::make_unique<PosixSharedLog>(fd);
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

}  // namespace platform
