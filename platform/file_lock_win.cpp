// File locks with LockFileEx on the first byte of the file. The lock is
// released when the handle is unlocked or closed, or the process ends.
#include <windows.h>


#include "platform/device_control.h"
#include "platform/file_lock.h"

namespace platform {
namespace {

class WindowsFileLock final : public FileLock {
 public:
  explicit WindowsFileLock(HANDLE handle) : handle_(handle) {}
  ~WindowsFileLock() override {
    OVERLAPPED region{};
    UnlockFileEx(handle_, 0, 1, 0, &region);
    CloseHandle(handle_);
  }
  WindowsFileLock(const WindowsFileLock&) = delete;
  WindowsFileLock& operator=(const WindowsFileLock&) = delete;

 private:
  HANDLE handle_;
};

// Opens the lock file, creating it when missing; shared in every way so
// that other runs can open it too. A lock file this user may not write is
// opened for reading, which is enough for LockFileEx.
HANDLE OpenLockFile(const std::string& path) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    handle = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  }
  return handle;
}

}  // namespace

std::unique_ptr<FileLock> AcquireFileLock(const std::string& path, uint32_t warn_after_ms,
                                          const std::function<void()>& on_long_wait,
                                          uint32_t& error) {
  error = 0;
  HANDLE handle = OpenLockFile(path);
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  const bool taken = WaitForLock(
      [&] {
        OVERLAPPED region{};
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region)) {
          return LockTry::kTaken;
        }
        const DWORD failure = GetLastError();
        if (failure == ERROR_LOCK_VIOLATION || failure == ERROR_IO_PENDING) return LockTry::kBusy;
        error = failure;
        return LockTry::kFailed;
      },
      warn_after_ms, on_long_wait);
  if (!taken) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<WindowsFileLock>(handle);
}

}  // namespace platform
