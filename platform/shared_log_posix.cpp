// The shared log with fcntl open-file-description locks (see
// platform/file_lock.h), and the record of a stop from outside written by a
// signal handler with async-signal-safe calls only.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/file_lock.h"
#include "platform/posix_io.h"
#include "platform/shared_log.h"

namespace platform {
namespace {

constexpr int kStopSignals[kStopKinds] = {SIGINT, SIGTERM, SIGHUP};

// What a signal handler needs to record a stop. Process-wide by nature: a
// signal handler has no other way to reach it. Changed only while the stop
// signals are blocked.
struct StopState {
  int fd = -1;
  char* lines[kStopKinds] = {};  // each: 20 bytes for the time, then the line
  size_t sizes[kStopKinds] = {};
  volatile sig_atomic_t armed = 0;
  bool installed = false;
  struct sigaction previous[kStopKinds] = {};
};
StopState stop_state;

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kStopSignals) sigaddset(&set, sig);
  return set;
}

void OnStopSignal(int sig) {
  const int saved_errno = errno;
  size_t kind = 0;
  while (kind < kStopKinds && kStopSignals[kind] != sig) ++kind;
  if (stop_state.armed && kind < kStopKinds) {
    stop_state.armed = 0;
    const int fd = stop_state.fd;
    SetOfdLock(fd, F_WRLCK, kFileLockOffset, true);
    const off_t end = lseek(fd, 0, SEEK_END);
    char last = '\n';
    if (end > 0 && pread(fd, &last, 1, end - 1) == 1 && last != '\n') WriteAll(fd, "\n", 1);
    char* line = stop_state.lines[kind];
    char time_text[21];
    FormatUtcTime(static_cast<int64_t>(time(nullptr)), time_text);
    std::memcpy(line, time_text, 20);
    WriteAll(fd, line, stop_state.sizes[kind]);
    fsync(fd);
    SetOfdLock(fd, F_UNLCK, kFileLockOffset);
  }
  // End the process as the signal would have: it is blocked while this
  // handler runs and delivered with the default action when it returns.
  signal(sig, SIG_DFL);
  raise(sig);
  errno = saved_errno;
}

void FreeLines() {
  for (size_t i = 0; i < kStopKinds; ++i) {
    std::free(stop_state.lines[i]);
    stop_state.lines[i] = nullptr;
    stop_state.sizes[i] = 0;
  }
}

class PosixSharedLog final : public SharedLog {
 public:
  explicit PosixSharedLog(int fd) : fd_(fd) {}
  ~PosixSharedLog() override {
    if (stop_state.fd == fd_) DisarmStopRecord();
    close(fd_);
  }
  PosixSharedLog(const PosixSharedLog&) = delete;
  PosixSharedLog& operator=(const PosixSharedLog&) = delete;

  bool Lock(uint32_t warn_after_ms, const std::function<void()>& on_long_wait,
            uint32_t& error) override {
    error = 0;
    return WaitForLock(
        [&] {
          if (SetOfdLock(fd_, F_WRLCK, kFileLockOffset)) return LockTry::kTaken;
          if (errno == EINTR || errno == EACCES || errno == EAGAIN) return LockTry::kBusy;
          error = static_cast<uint32_t>(errno);
          return LockTry::kFailed;
        },
        warn_after_ms, on_long_wait);
  }

  void Unlock() override { SetOfdLock(fd_, F_UNLCK, kFileLockOffset); }

  bool TryClaim(uint64_t key) override { return SetOfdLock(fd_, F_WRLCK, kClaimBase + key % kClaimSpan); }

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
    // O_APPEND: always at the end.
    return WriteAll(fd_, bytes.data(), bytes.size()) && fsync(fd_) == 0;
  }

  void ArmStopRecord(const std::array<std::string, kStopKinds>& lines) override {
    char* copies[kStopKinds] = {};
    for (size_t i = 0; i < kStopKinds; ++i) {
      copies[i] = static_cast<char*>(std::malloc(20 + lines[i].size()));
      if (copies[i] == nullptr) std::abort();
      std::memset(copies[i], ' ', 20);
      std::memcpy(copies[i] + 20, lines[i].data(), lines[i].size());
    }
    const sigset_t set = StopSignalSet();
    sigset_t old;
    sigprocmask(SIG_BLOCK, &set, &old);
    FreeLines();
    for (size_t i = 0; i < kStopKinds; ++i) {
      stop_state.lines[i] = copies[i];
      stop_state.sizes[i] = 20 + lines[i].size();
    }
    stop_state.fd = fd_;
    stop_state.armed = 1;
    if (!stop_state.installed) {
      struct sigaction action {};
      action.sa_handler = OnStopSignal;
      sigemptyset(&action.sa_mask);
      for (int sig : kStopSignals) sigaddset(&action.sa_mask, sig);
      for (size_t i = 0; i < kStopKinds; ++i) sigaction(kStopSignals[i], &action, &stop_state.previous[i]);
      stop_state.installed = true;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
  }

  void DisarmStopRecord() override {
    const sigset_t set = StopSignalSet();
    sigset_t old;
    sigprocmask(SIG_BLOCK, &set, &old);
    stop_state.armed = 0;
    if (stop_state.installed) {
      for (size_t i = 0; i < kStopKinds; ++i) sigaction(kStopSignals[i], &stop_state.previous[i], nullptr);
      stop_state.installed = false;
    }
    FreeLines();
    stop_state.fd = -1;
    sigprocmask(SIG_SETMASK, &old, nullptr);
  }

 private:
  int fd_;
};

}  // namespace

StopHold::StopHold() {
  static_assert(sizeof(sigset_t) <= 128, "a signal mask must fit StopHold");
  const sigset_t set = StopSignalSet();
  sigprocmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(saved_));
}

StopHold::~StopHold() { sigprocmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr); }

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
