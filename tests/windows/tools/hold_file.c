/* What another Windows program on a station does to the tool's shared files,
 * for the Wine tests (tests/windows/run_wine_tests.sh). Never packaged.
 *
 *   hold_file open PATH MS READY [UNTIL]
 *       opens PATH for reading, sharing reading and writing but not
 *       deleting (as fopen does), makes the file READY, holds PATH for MS
 *       milliseconds (or until the file UNTIL exists) and closes it.
 *   hold_file lock PATH MS READY UNTOUCHED [inplace|replace NEW]
 *       takes the lock a station takes on a shared file (LockFileEx,
 *       exclusive, one byte at offset 2^40) on PATH, makes READY, waits MS
 *       milliseconds; then with "inplace" writes the bytes of NEW over
 *       PATH's through its handle, with "replace" puts a copy of NEW in
 *       PATH's place with ReplaceFileA (as a station's write-back does; the
 *       locked file loses its name). Before it lets go of the lock it checks
 *       that nothing has been written to the file UNTOUCHED (a device
 *       trace) meanwhile, and ends with exit code 3 when something was.
 *   hold_file link EXISTING NEW
 *       CreateHardLinkA: NEW becomes a second name of EXISTING.
 *   hold_file break c|break LOG INI MS COMMAND-LINE
 *       starts COMMAND-LINE on a console of its own with this program,
 *       waits (up to MS milliseconds) until LOG holds a line with ",started,"
 *       and INI differs from what it held at the start, then stops it from
 *       the console as a station's operator would: "c" sends CTRL_C_EVENT to
 *       every process of the console (this one outlives it), "break" starts
 *       the program in a new process group and sends that group
 *       CTRL_BREAK_EVENT. Waits for the program to end, prints "exit code N"
 *       and ends with N; ends with 90 and says why when the event cannot be
 *       sent or the program does not reach that point, 91 when the program
 *       runs on for 15 s after it.
 *
 * A step that fails prints the Windows error and ends with exit code 2. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Failed(const char* what, const char* path) {
  printf("hold_file: %s %s failed: error %lu\n", what, path, (unsigned long)GetLastError());
  return 2;
}

static int MakeMarker(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return Failed("creating", path);
  CloseHandle(h);
  return 0;
}

/* The whole contents of PATH, read letting others replace it; NULL when it
 * cannot be read. */
static char* ReadAll(const char* path, DWORD* size) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return NULL;
  const DWORD n = GetFileSize(h, NULL);
  char* data = n == INVALID_FILE_SIZE ? NULL : malloc(n + 1);
  DWORD got = 0;
  if (data != NULL && (!ReadFile(h, data, n, &got, NULL) || got != n)) {
    free(data);
    data = NULL;
  }
  CloseHandle(h);
  if (data != NULL) {
    data[n] = '\0';
    *size = n;
  }
  return data;
}

static int HoldOpen(const char* path, DWORD ms, const char* ready, const char* until) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return Failed("opening", path);
  if (MakeMarker(ready) != 0) return 2;
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end && (until == NULL || GetFileAttributesA(until) == INVALID_FILE_ATTRIBUTES)) {
    Sleep(10);
  }
  CloseHandle(h);
  return 0;
}

static int HoldLock(const char* path, DWORD ms, const char* ready, const char* untouched, const char* how,
                    const char* replacement) {
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return Failed("opening", path);
  OVERLAPPED region;
  memset(&region, 0, sizeof region);
  region.OffsetHigh = 1u << 8; /* 2^40 */
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region)) {
    return Failed("locking", path);
  }
  if (MakeMarker(ready) != 0) return 2;
  Sleep(ms);
  if (how != NULL) {
    DWORD size = 0, written = 0;
    char* data = ReadAll(replacement, &size);
    if (data == NULL) return Failed("reading", replacement);
    if (strcmp(how, "inplace") == 0) {
      if (SetFilePointer(h, 0, NULL, FILE_BEGIN) != 0 || !WriteFile(h, data, size, &written, NULL) ||
          written != size || !SetEndOfFile(h) || !FlushFileBuffers(h)) {
        return Failed("rewriting", path);
      }
    } else {
      /* Wine's ReplaceFileA needs the folder in the name. */
      char full[MAX_PATH], temp[MAX_PATH + 16];
      if (GetFullPathNameA(path, sizeof full, full, NULL) == 0) return Failed("resolving", path);
      snprintf(temp, sizeof temp, "%s.holder", full);
      HANDLE t = CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
      if (t == INVALID_HANDLE_VALUE) return Failed("creating", temp);
      if (!WriteFile(t, data, size, &written, NULL) || written != size) return Failed("writing", temp);
      CloseHandle(t);
      if (!ReplaceFileA(full, temp, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL)) {
        return Failed("replacing", path);
      }
    }
    free(data);
  }
  DWORD size = 0;
  char* written = ReadAll(untouched, &size);
  const int touched = written != NULL && size > 0;
  free(written);
  if (touched) {
    printf("hold_file: %s was written while the lock was held (%lu bytes)\n", untouched, (unsigned long)size);
    return 3;
  }
  UnlockFileEx(h, 0, 1, 0, &region);
  CloseHandle(h);
  return 0;
}

/* Whether LOG holds a start line and INI no longer holds `before`. */
static int ReachedProgramming(const char* log, const char* ini, const char* before, DWORD before_size) {
  DWORD size = 0;
  char* text = ReadAll(log, &size);
  const int started = text != NULL && strstr(text, ",started,") != NULL;
  free(text);
  if (!started) return 0;
  text = ReadAll(ini, &size);
  const int changed = text != NULL && (size != before_size || memcmp(text, before, size) != 0);
  free(text);
  return changed;
}

static BOOL WINAPI Outlive(DWORD event) {
  (void)event;
  return TRUE;
}

static int BreakRun(const char* kind, const char* log, const char* ini, DWORD ms, const char* command_line) {
  const int is_break = strcmp(kind, "break") == 0;
  DWORD before_size = 0;
  char* before = ReadAll(ini, &before_size);
  if (before == NULL) return Failed("reading", ini);
  /* The event goes to the processes of a console: a new one, shared with
   * the program. The program writes where this one's output goes. */
  STARTUPINFOA start;
  memset(&start, 0, sizeof start);
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  FreeConsole();
  if (!AllocConsole()) {
    printf("hold_file: no console to send the event on: AllocConsole failed: error %lu\n",
           (unsigned long)GetLastError());
    return 90;
  }
  PROCESS_INFORMATION child;
  char* line = _strdup(command_line);
  if (!CreateProcessA(NULL, line, NULL, NULL, TRUE, is_break ? CREATE_NEW_PROCESS_GROUP : 0, NULL, NULL, &start,
                      &child)) {
    return Failed("starting", command_line);
  }
  /* This program outlives the event (a handler, not the inherited "ignore
   * Ctrl+C" flag, which would reach the program too). */
  SetConsoleCtrlHandler(Outlive, TRUE);
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (!ReachedProgramming(log, ini, before, before_size)) {
    if (WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(child.hProcess, &code);
      printf("hold_file: the program ended (exit code %lu) before the log and the INI file showed it programming\n",
             (unsigned long)code);
      return 90;
    }
    if (GetTickCount64() > deadline) {
      TerminateProcess(child.hProcess, 99);
      printf("hold_file: the log and the INI file did not show the program programming within %lu ms\n",
             (unsigned long)ms);
      return 90;
    }
    Sleep(10);
  }
  const DWORD event = is_break ? CTRL_BREAK_EVENT : CTRL_C_EVENT;
  if (!GenerateConsoleCtrlEvent(event, is_break ? child.dwProcessId : 0)) {
    const DWORD error = GetLastError();
    TerminateProcess(child.hProcess, 99);
    WaitForSingleObject(child.hProcess, 5000);
    printf("hold_file: GenerateConsoleCtrlEvent(%s) failed: error %lu\n",
           is_break ? "CTRL_BREAK_EVENT" : "CTRL_C_EVENT", (unsigned long)error);
    return 90;
  }
  if (WaitForSingleObject(child.hProcess, 15000) != WAIT_OBJECT_0) {
    TerminateProcess(child.hProcess, 99);
    printf("hold_file: the program ran on for 15 s after the event\n");
    return 91;
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  printf("exit code %lu\n", (unsigned long)code);
  free(before);
  free(line);
  return (int)code;
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IONBF, 0);
  if ((argc == 5 || argc == 6) && strcmp(argv[1], "open") == 0) {
    return HoldOpen(argv[2], strtoul(argv[3], NULL, 10), argv[4], argc == 6 ? argv[5] : NULL);
  }
  if ((argc == 6 || argc == 8) && strcmp(argv[1], "lock") == 0 &&
      (argc == 6 || strcmp(argv[6], "inplace") == 0 || strcmp(argv[6], "replace") == 0)) {
    return HoldLock(argv[2], strtoul(argv[3], NULL, 10), argv[4], argv[5], argc == 8 ? argv[6] : NULL,
                    argc == 8 ? argv[7] : NULL);
  }
  if (argc == 4 && strcmp(argv[1], "link") == 0) {
    return CreateHardLinkA(argv[3], argv[2], NULL) ? 0 : Failed("linking to", argv[2]);
  }
  if (argc == 7 && strcmp(argv[1], "break") == 0 && (strcmp(argv[2], "c") == 0 || strcmp(argv[2], "break") == 0)) {
    return BreakRun(argv[2], argv[3], argv[4], strtoul(argv[5], NULL, 10), argv[6]);
  }
  printf("usage: hold_file open PATH MS READY [UNTIL] | lock PATH MS READY UNTOUCHED [inplace|replace NEW] |"
         " link EXISTING NEW | break c|break LOG INI MS COMMAND-LINE\n");
  return 2;
}
