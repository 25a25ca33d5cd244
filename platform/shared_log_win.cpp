// The shared log with LockFileEx byte-range locks. The locked bytes lie far
// past the end of any real log, so they never stand in the way of a read or
// an append by another process.
#include <windows.h>


#include "platform/file_lock.h"
#include "platform/shared_log.h"

namespace platform {
namespace {

constexpr uint64_t kLockOffset = uint64_t{1} << 40;
constexpr uint64_t kClaimBase = uint64_t{1} << 41;
constexpr uint64_t kClaimSpan = uint64_t{1} << 40;

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

class WindowsSharedLog final : public SharedLog {
 public:
  explicit WindowsSharedLog(HANDLE h) : h_(h) {}
  ~WindowsSharedLog() override { CloseHandle(h_); }
  WindowsSharedLog(const WindowsSharedLog&) = delete;
  WindowsSharedLog& operator=(const WindowsSharedLog&) = delete;

  bool Lock(uint32_t warn_after_ms, const std::function<void()>& on_long_wait,
            uint32_t& error) override {
    error = 0;
    return WaitForLock(
        [&] {
          if (TryLockByte(h_, kLockOffset)) return LockTry::kTaken;
          const DWORD why = GetLastError();
          if (why == ERROR_LOCK_VIOLATION || why == ERROR_IO_PENDING) return LockTry::kBusy;
          error = why;
          return LockTry::kFailed;
        },
        warn_after_ms, on_long_wait);
  }

  void Unlock() override {
    OVERLAPPED ov = At(kLockOffset);
    UnlockFileEx(h_, 0, 1, 0, &ov);
  }

  bool TryClaim(uint64_t key) override { return TryLockByte(h_, kClaimBase + key % kClaimSpan); }

  bool Size(uint64_t& size) override {
    LARGE_INTEGER n{};
    if (!GetFileSizeEx(h_, &n)) return false;
    size = static_cast<uint64_t>(n.QuadPart);
    return true;
  }

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
    if (!Size(end)) return false;
    size_t done = 0;
    while (done < bytes.size()) {
      OVERLAPPED ov = At(end + done);
      const size_t left = bytes.size() - done;
      const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
      DWORD written = 0;
      if (!WriteFile(h_, bytes.data() + done, chunk, &written, &ov) || written == 0) return false;
      done += written;
    }
    return FlushFileBuffers(h_) != 0;
  }

 private:
  HANDLE h_;
};

}  // namespace

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
