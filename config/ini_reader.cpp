// The INI reader (module `user`): line reader, value checks, key lookup and
// the section scan that hands every known section to its handler.
#include "config/ini_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/output.h"
#include "config/ini_schema.h"
#include "platform/file_replace.h"

namespace {

// A null pointer handed to one of the module's operations is a programming
// error: report it the way the module always has (condition, module name,
// check number) and stop.
[[noreturn]] void AssertionFailed(const char* condition, int line) {
  std::printf("Assertion failed: '%s', file %s, line %d\n", condition, "user", line);
  std::fflush(stdout);
  std::abort();
}

#define USER_ASSERT(condition, line) \
  do {                               \
    if (!(condition)) AssertionFailed(#condition, line); \
  } while (0)

constexpr int kSkipBlanksCheck = 1939;
constexpr int kTruncateAtBlankCheck = 1955;
constexpr int kCheckDecimalValueCheck = 1973;
constexpr int kCheckHexValueCheck = 2000;
constexpr int kGetKeyValueLineCheck = 2031;
constexpr int kGetKeyValueTitleCheck = 2032;

// The reader is the only user of the file while it reads, so the stream's
// lock is not needed for every character.
inline int NextChar(std::FILE* file) {
#if defined(_WIN32)
  return _getc_nolock(file);
#else
  return getc_unlocked(file);
#endif
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Closes the INI file on every path out of the scan.
struct FileCloser {
  std::FILE* file;
  ~FileCloser() { std::fclose(file); }
};

}  // namespace

int ReadIniLine(std::FILE* file, char* buf, int* len, long* line_start) {
  const int capacity = *len;
  const int limit = capacity > 0 ? capacity - 1 : 0;

  // Comment lines: a '#' as the very first byte of a line, up to and
  // including the next line feed.
  int c = NextChar(file);
  while (c == '#') {
    do {
      c = NextChar(file);
    } while (c != '\n' && c != EOF);
    if (c == EOF) break;
    c = NextChar(file);
  }
  if (capacity > 0) buf[0] = '\0';
  *len = 0;
  if (c == EOF) return kIniEndOfFile;
  if (line_start != nullptr) *line_start = std::ftell(file) - 1;

  int stored = 0;
  int status = kIniLineBreak;
  for (;;) {
    if (c == EOF) {
      status = kIniEndOfFile;
      break;
    }
    if (c == '\n') break;
    if (c == '\r') {
      const int next = NextChar(file);
      if (next == '\n') break;
      if (next == EOF) {
        status = kIniEndOfFile;
        break;
      }
      // A carriage return inside a line is an ordinary character.
      if (stored < limit) buf[stored++] = '\r';
      c = next;
      continue;
    }
    if (stored < limit) buf[stored++] = static_cast<char>(c);
    c = NextChar(file);
  }
  if (capacity > 0) buf[stored] = '\0';
  *len = stored;
  return status;
}

int SkipBlanks(const char* string, int index) {
  USER_ASSERT(string != NULL, kSkipBlanksCheck);
  while (IsBlank(string[index])) ++index;
  return index;
}

void TruncateAtBlank(char* string) {
  USER_ASSERT(string != NULL, kTruncateAtBlankCheck);
  for (char* p = string; *p != '\0'; ++p) {
    if (IsBlank(*p)) {
      *p = '\0';
      return;
    }
  }
}

int CheckDecimalValue(char* string, int maximum) {
  USER_ASSERT(string != NULL, kCheckDecimalValueCheck);
  int i = 0;
  for (; string[i] != '\0'; ++i) {
    if (IsBlank(string[i])) {
      string[i] = '\0';
      break;
    }
    if (!IsDecimalDigit(string[i])) return -1;
  }
  return i <= maximum ? 0 : -1;
}

int CheckHexValue(char* string, int maximum) {
  USER_ASSERT(string != NULL, kCheckHexValueCheck);
  if (string[0] != '0' || (string[1] != 'x' && string[1] != 'X')) return -1;
  int i = 2;
  for (; string[i] != '\0'; ++i) {
    if (IsBlank(string[i])) {
      string[i] = '\0';
      break;
    }
    if (HexDigit(string[i]) < 0) return -1;
  }
  return i <= maximum ? 0 : -1;
}

char* GetKeyValue(char* buf, const char* title, int index) {
  USER_ASSERT(buf != NULL, kGetKeyValueLineCheck);
  USER_ASSERT(title != NULL, kGetKeyValueTitleCheck);
  if (buf[index] == '\0') return nullptr;
  const size_t title_length = std::strlen(title);
  if (std::strncmp(buf + index, title, title_length) != 0) return nullptr;
  int i = SkipBlanks(buf, index + static_cast<int>(title_length));
  if (buf[i] != '=') return nullptr;
  i = SkipBlanks(buf, i + 1);
  if (buf[i] == '\0') return nullptr;
  return buf + i;
}

int ReadEnableValue(char* string, IniMarkers& markers, const char* key, int32_t& destination,
                    const char* message) {
  if (CheckDecimalValue(string, 1) != 0) {
    PrintError("%s", message);
    markers.Set(key, kMalformed);
    return -1;
  }
  destination = static_cast<int32_t>(DecimalTextValue(string));
  markers.Set(key, kWellFormed);
  return 0;
}

uint32_t DecimalTextValue(const char* string) {
  uint32_t value = 0;
  for (const char* p = string; IsDecimalDigit(*p); ++p) {
    value = value * 10 + static_cast<uint32_t>(*p - '0');
  }
  return value;
}

uint32_t HexTextValue(const char* string) {
  uint32_t value = 0;
  const char* p = string;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  for (int digit = HexDigit(*p); digit >= 0; digit = HexDigit(*++p)) {
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}

IniLineKind ClassifyIniLine(const char* buf, int* first) {
  *first = SkipBlanks(buf, 0);
  if (buf[*first] == '\0') return IniLineKind::kBlank;
  if (buf[*first] == '[' && buf[std::strlen(buf) - 1] == ']') return IniLineKind::kHeader;
  return IniLineKind::kKey;
}

long IniTell(std::FILE* file) {
  const long position = std::ftell(file);
  if (position < 0) PrintError("Cannot get the position in the ini file\n");
  return position;
}

int IniRewind(std::FILE* file, long position) {
  if (std::fseek(file, position, SEEK_SET) != 0) {
    PrintError("Cannot set the position in the ini file\n");
    return -1;
  }
  return 0;
}

int ReadIniFile(const char* path, RunSettings& rs) {
  if (path == nullptr) path = "";
  std::FILE* opened = platform::OpenForReading(path);
  if (opened == nullptr) {
    std::printf("The file %s is not found\n", path);
    return -1;
  }
  FileCloser file{opened};
  // Handlers seek back to re-read the next header, so the file must be
  // positionable (a pipe is not).
  if (std::ftell(file.file) < 0) {
    std::printf("The file %s is not found\n", path);
    return -1;
  }

  char buf[kIniLineCapacity];
  for (;;) {
    int len = kIniLineCapacity;
    const int status = ReadIniLine(file.file, buf, &len);
    int first = 0;
    // A header on the file's last line (no line break) is not acted on.
    if (ClassifyIniLine(buf, &first) == IniLineKind::kHeader && status == kIniLineBreak) {
      const IniSectionRow* row = FindIniSection(buf + first);
      if (row != nullptr && row->handler(file.file, rs) < 0) return -1;
      continue;
    }
    if (status == kIniEndOfFile) break;
  }
  // A read error (a directory, a failing disk) ends the file early; the
  // sections after it were never seen, so the file counts as unreadable.
  if (std::ferror(file.file)) {
    std::printf("The file %s is not found\n", path);
    return -1;
  }
  return 0;
}
