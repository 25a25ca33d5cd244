// State file locking and atomic replacement with Win32 calls.
#include <windows.h>

#include <algorithm>
#include <string>

#include "sim/state_file.h"

namespace sim {
namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string ErrorText(const char* what, DWORD error) {
  return std::string(what) + " (error " + std::to_string(error) + ")";
}

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool SameFile(HANDLE a, const std::wstring& path) {
  HANDLE b = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (b == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  const bool same = GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) &&
                    ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                    ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  CloseHandle(b);
  return same;
}

bool WriteTemp(const std::wstring& temp, const std::string& content, std::string& problem) {
  HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    problem = ErrorText("cannot create the temporary file", GetLastError());
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < content.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
    ok = WriteFile(h, content.data() + done, chunk, &n, nullptr) != 0;
    done += n;
  }
  ok = ok && FlushFileBuffers(h) != 0;
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (!ok) {
    problem = ErrorText("cannot write the temporary file", error);
    DeleteFileW(temp.c_str());
  }
  return ok;
}

std::wstring TempName(const std::string& path) {
  return Wide(path + ".tmp." + std::to_string(GetCurrentProcessId()));
}

}  // namespace

StateFile::~StateFile() { Close(); }

uint32_t StateFile::Open(const std::string& path) {
  Close();
  const std::wstring wide = Wide(path);
  for (;;) {
    // Shared for deleting, so that the run holding the lock can rename its
    // saved copy over the file while others wait.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 2 : 5;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      CloseHandle(h);
      return 5;
    }
    if (!SameFile(h, wide)) {  // replaced while we waited: start again on the new one
      CloseHandle(h);
      if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) return 2;
      continue;
    }
    path_ = path;
    handle_ = reinterpret_cast<intptr_t>(h);
    return 0;
  }
}

bool StateFile::ReadAll(std::string& content, std::string& problem) {
  content.clear();
  HANDLE h = AsHandle(handle_);
  if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    problem = ErrorText("cannot read", GetLastError());
    return false;
  }
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
      problem = ErrorText("cannot read", GetLastError());
      return false;
    }
    if (n == 0) return true;
    content.append(buf, n);
  }
}

bool StateFile::Replace(const std::string& content, std::string& problem) {
  const std::wstring temp = TempName(path_);
  if (!WriteTemp(temp, content, problem)) return false;
  const std::wstring target = Wide(path_);
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (MoveFileExW(temp.c_str(), target.c_str(), flags)) return true;
  // Some file systems refuse to replace a file that is still open: give up
  // the handle (and with it the lock) and try once more.
  Close();
  if (MoveFileExW(temp.c_str(), target.c_str(), flags)) return true;
  problem = ErrorText("cannot rename the temporary file", GetLastError());
  DeleteFileW(temp.c_str());
  return false;
}

void StateFile::Close() {
  if (handle_ == kNoHandle) return;
  HANDLE h = AsHandle(handle_);
  OVERLAPPED whole{};
  UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(h);
  handle_ = kNoHandle;
}

bool WriteNewFileAtomically(const std::string& path, const std::string& content,
                            std::string& problem) {
  const std::wstring temp = TempName(path);
  if (!WriteTemp(temp, content, problem)) return false;
  if (MoveFileExW(temp.c_str(), Wide(path).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  problem = ErrorText("cannot rename the temporary file", GetLastError());
  DeleteFileW(temp.c_str());
  return false;
}

}  // namespace sim
