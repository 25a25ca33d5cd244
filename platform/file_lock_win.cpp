// File locks with LockFileEx on one byte far past the end of the file: the
// lock is released when the handle is unlocked or closed, or the process
// ends, and it hinders no read or write of the file's bytes. The handle
// shares reading, writing and deleting, so another station may replace the
// file while this one waits for it.
#include <windows.h>

#include "platform/file_lock.h"

namespace platform {
namespace {

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The identity of the file behind a handle: its volume and index.
bool FileIdentity(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileInformationByHandle(h, &info) != 0;
}

class WindowsFileLock final : public FileLock {
 public:
  WindowsFileLock(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~WindowsFileLock() override {
    OVERLAPPED region = At(kFileLockOffset);
    UnlockFileEx(handle_, 0, 1, 0, &region);
    CloseHandle(handle_);
  }
  WindowsFileLock(const WindowsFileLock&) = delete;
  WindowsFileLock& operator=(const WindowsFileLock&) = delete;

  uint32_t LinkCount() const override {
    BY_HANDLE_FILE_INFORMATION info{};
    return FileIdentity(handle_, info) ? info.nNumberOfLinks : 0;
  }

  bool StillNamed() const override {
    HANDLE named = CreateFileA(path_.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = FileIdentity(handle_, a) && FileIdentity(named, b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
  }

 private:
  HANDLE handle_;
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
    SECURITY_ATTRIBUTES no_inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, &no_inherit, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      return nullptr;
    }
    const bool taken = WaitForLock(
        [&] {
          OVERLAPPED region = At(kFileLockOffset);
          if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region)) {
            return LockTry::kTaken;
          }
          const DWORD failure = GetLastError();
          if (failure == ERROR_LOCK_VIOLATION || failure == ERROR_IO_PENDING) return LockTry::kBusy;
          error = failure;
          return LockTry::kFailed;
        },
        warned ? UINT32_MAX : warn_after_ms, warn_once);
    if (!taken) {
      CloseHandle(handle);
      return nullptr;
    }
    auto lock = std::make_unique<WindowsFileLock>(handle, path);
    if (lock->StillNamed()) return lock;
    // Replaced or removed while this run waited: lock what the name holds now.
  }
}

bool IsMissingFileError(uint32_t error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }
bool IsAccessError(uint32_t error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT || error == ERROR_SHARING_VIOLATION;
}

}  // namespace platform
