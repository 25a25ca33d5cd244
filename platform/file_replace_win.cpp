// Whole-file replacement on Windows: an exclusively created temporary file,
// FlushFileBuffers, then ReplaceFile, which keeps the old file's attributes,
// owner and access rights (MoveFileEx with write-through for a new file).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_replace.h"

namespace platform {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash + 1);
}

std::string TemporaryName(const std::string& path, unsigned attempt) {
  static unsigned counter = 0;
  LARGE_INTEGER ticks{};
  QueryPerformanceCounter(&ticks);
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".tmp-%lu-%llx-%u-%u", GetCurrentProcessId(),
                static_cast<unsigned long long>(ticks.QuadPart), ++counter, attempt);
  return path + suffix;
}

// Creates a new temporary file beside `path`; INVALID_HANDLE_VALUE when
// none can be made.
HANDLE CreateTemporary(const std::string& path, std::string& temp, DWORD flags) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temp = TemporaryName(path, attempt);
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

std::string ErrorText(const std::string& what, DWORD error) {
  char number[32];
  std::snprintf(number, sizeof number, " (error %lu)", error);
  return what + number;
}

// Errors of ReplaceFile that another program holding the file open causes,
// and that go away when it closes it.
bool HeldOpenElsewhere(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const uint8_t* data, size_t size, uint32_t* error) {
  auto failed = [error](DWORD why) {
    if (error != nullptr) *error = why;
    return false;
  };
  std::string temp;
  HANDLE h = CreateTemporary(path, temp, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return failed(GetLastError());
  bool ok = true;
  while (ok && size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    ok = WriteFile(h, data, chunk, &written, nullptr) && written == chunk;
    data += chunk;
    size -= chunk;
  }
  ok = FlushFileBuffers(h) && ok;
  ok = CloseHandle(h) && ok;
  DWORD why = ok ? 0 : GetLastError();
  if (ok) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      // A reader that opened the file without delete sharing (another
      // program, or an older version of this one) holds it for a moment.
      const ULONGLONG start = GetTickCount64();
      for (;;) {
        ok = ReplaceFileA(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                          nullptr) != 0;
        why = ok ? 0 : GetLastError();
        if (ok || !HeldOpenElsewhere(why) || GetTickCount64() - start >= kReplaceRetryMs) break;
        Sleep(50);
      }
    } else {
      ok = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
      why = ok ? 0 : GetLastError();
    }
  }
  if (!ok) {
    DeleteFileA(temp.c_str());
    return failed(why);
  }
  return true;
}

std::FILE* OpenForReading(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    errno = why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND ? ENOENT
            : why == ERROR_ACCESS_DENIED || why == ERROR_SHARING_VIOLATION ? EACCES
                                                                           : EIO;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    errno = EMFILE;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "rb");
  if (file == nullptr) _close(fd);
  return file;
}

std::string RealFilePath(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return path;
  char buffer[MAX_PATH * 4];
  const DWORD n = GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= sizeof buffer) return path;
  std::string real(buffer, n);
  // "\\?\C:\dir\file" or "\\?\UNC\server\share\file".
  if (real.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + real.substr(8);
  if (real.rfind("\\\\?\\", 0) == 0) return real.substr(4);
  return real;
}

std::string WhyNotReplaceable(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrorText("cannot be examined", GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "is not a regular file";
  if (attributes & FILE_ATTRIBUTE_READONLY) return "is read-only";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ErrorText("cannot be written", GetLastError());
  CloseHandle(h);
  // The folder must take the temporary file: try one, deleted on close.
  std::string temp;
  h = CreateTemporary(path, temp, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return ErrorText("cannot be replaced: its folder " + FolderOf(path) + " does not take new files",
                     error);
  }
  CloseHandle(h);
  return "";
}

}  // namespace platform
