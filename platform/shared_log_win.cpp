// The shared log with LockFileEx byte-range locks (see platform/file_lock.h),
// and the record of a stop from outside written by the console control
// handler, which Windows runs on a thread of its own.
#include <windows.h>

#include <cstdio>
#include <mutex>

#include "platform/file_lock.h"
#include "platform/shared_log.h"

namespace platform {
namespace {

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

bool TryLockByte(HANDLE h, uint64_t offset) {
  OVERLAPPED ov = At(offset);
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov) != 0;
}

bool SizeOf(HANDLE h, uint64_t& size) {
  LARGE_INTEGER n{};
  if (!GetFileSizeEx(h, &n)) return false;
  size = static_cast<uint64_t>(n.QuadPart);
  return true;
}

bool AppendAt(HANDLE h, uint64_t end, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    OVERLAPPED ov = At(end + done);
    const size_t left = size - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(h, data + done, chunk, &written, &ov) || written == 0) return false;
    done += written;
  }
  return true;
}

// What the console control handler needs to record a stop; process-wide by
// nature, since the handler has no other way to reach it. Guarded by
// `mutex`, which the handler holds while it records and never lets go of
// (it ends the process).
struct StopState {
  std::recursive_mutex mutex;
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::array<std::string, kStopKinds> lines;
  bool armed = false;
  bool installed = false;
};
StopState stop_state;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  StopKind kind = StopKind::kInterrupt;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: kind = StopKind::kInterrupt; break;
    case CTRL_CLOSE_EVENT: kind = StopKind::kHangUp; break;
    default: kind = StopKind::kTerminate; break;
  }
  stop_state.mutex.lock();
  if (!stop_state.armed) {
    stop_state.mutex.unlock();
    return FALSE;  // the default handler ends the process
  }
  HANDLE h = stop_state.handle;
  OVERLAPPED region = At(kFileLockOffset);
  LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region);
  uint64_t end = 0;
  if (SizeOf(h, end)) {
    char last = '\n';
    DWORD got = 0;
    OVERLAPPED at = At(end > 0 ? end - 1 : 0);
    if (end > 0 && ReadFile(h, &last, 1, &got, &at) && got == 1 && last != '\n' && AppendAt(h, end, "\n", 1)) ++end;
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    const std::string line = text + stop_state.lines[static_cast<size_t>(kind)];
    AppendAt(h, end, line.data(), line.size());
    FlushFileBuffers(h);
  }
  UnlockFileEx(h, 0, 1, 0, &region);
  ExitProcess(static_cast<UINT>(StopExitCode(kind)));
  return TRUE;
}

class WindowsSharedLog final : public SharedLog {
 public:
  explicit WindowsSharedLog(HANDLE h) : h_(h) {}
  ~WindowsSharedLog() override {
    {
      std::lock_guard<std::recursive_mutex> guard(stop_state.mutex);
      if (stop_state.handle == h_) {
        stop_state.armed = false;
        stop_state.handle = INVALID_HANDLE_VALUE;
      }
    }
    CloseHandle(h_);
  }
  WindowsSharedLog(const WindowsSharedLog&) = delete;
  WindowsSharedLog& operator=(const WindowsSharedLog&) = delete;

  bool Lock(uint32_t warn_after_ms, const std::function<void()>& on_long_wait,
            uint32_t& error) override {
    error = 0;
    return WaitForLock(
        [&] {
          if (TryLockByte(h_, kFileLockOffset)) return LockTry::kTaken;
          const DWORD why = GetLastError();
          if (why == ERROR_LOCK_VIOLATION || why == ERROR_IO_PENDING) return LockTry::kBusy;
          error = why;
          return LockTry::kFailed;
        },
        warn_after_ms, on_long_wait);
  }

  void Unlock() override {
    OVERLAPPED ov = At(kFileLockOffset);
    UnlockFileEx(h_, 0, 1, 0, &ov);
  }

  bool TryClaim(uint64_t key) override { return TryLockByte(h_, kClaimBase + key % kClaimSpan); }

  bool Size(uint64_t& size) override { return SizeOf(h_, size); }

  int64_t ReadAt(uint64_t offset, char* buffer, size_t n) override {
    OVERLAPPED ov = At(offset);
    DWORD got = 0;
    const DWORD want = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
    if (!ReadFile(h_, buffer, want, &got, &ov)) {
      return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return got;
  }

  bool Append(const std::string& bytes) override {
    uint64_t end = 0;
    return Size(end) && AppendAt(h_, end, bytes.data(), bytes.size()) && FlushFileBuffers(h_) != 0;
  }

  void ArmStopRecord(const std::array<std::string, kStopKinds>& lines) override {
    std::lock_guard<std::recursive_mutex> guard(stop_state.mutex);
    stop_state.lines = lines;
    stop_state.handle = h_;
    stop_state.armed = true;
    if (!stop_state.installed) stop_state.installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
  }

  void DisarmStopRecord() override {
    std::lock_guard<std::recursive_mutex> guard(stop_state.mutex);
    stop_state.armed = false;
    stop_state.handle = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

}  // namespace

StopHold::StopHold() { stop_state.mutex.lock(); }
StopHold::~StopHold() { stop_state.mutex.unlock(); }

std::unique_ptr<SharedLog> OpenSharedLog(const std::string& path, uint32_t& error) {
  error = 0;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  return std::make_unique<WindowsSharedLog>(h);
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "unknown";
  return std::string(name, size);
}

}  // namespace platform
