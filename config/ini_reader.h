// The INI reader (module `user`): reads the configuration file named with -i
// section by section into the run settings record.
//
// The file is read in binary mode one line at a time into a fixed 257-byte
// buffer, so positions are exact byte offsets (a CR LF counts as two bytes)
// and memory does not grow with the size of the file.
#pragma once

#include <cstdio>

#include "core/run_settings.h"

// Capacity of a line buffer: 256 characters and the terminating NUL.
constexpr int kIniLineCapacity = 257;

// Results of ReadIniLine.
constexpr int kIniLineBreak = 0;  // the line ended with a line break
constexpr int kIniEndOfFile = -2;  // the file ended (the line may still hold text)

// Reads the whole INI file: 0 when every recognised section succeeded, -1
// when the file cannot be opened or read, or a section handler failed (after
// its messages).
int ReadIniFile(const char* path, RunSettings& rs);

// Reads one line into `buf`. `*len` holds the capacity on entry (normally
// kIniLineCapacity) and the number of stored characters on return. Lines
// whose first byte is '#' are skipped as comments. Characters beyond the
// capacity are dropped up to the end of the line. Returns kIniLineBreak, or
// kIniEndOfFile when the file ended (the text read before it is returned).
// When `line_start` is given it receives the file offset of buf[0].
int ReadIniLine(std::FILE* file, char* buf, int* len, long* line_start = nullptr);

// Index of the first character at or after `index` that is neither a space
// nor a tab (the index of the terminating NUL if there is none).
int SkipBlanks(const char* string, int index);

// Ends `string` at its first space or tab.
void TruncateAtBlank(char* string);

// Decimal digits, cut at the first blank, at most `maximum` characters:
// 0, else -1. An empty string passes.
int CheckDecimalValue(char* string, int maximum);

// "0x" or "0X" and hexadecimal digits, cut at the first blank, at most
// `maximum` characters with the prefix: 0, else -1.
int CheckHexValue(char* string, int maximum);

// The value of key `title` on the line `buf` whose first non-blank
// character is at `index`: the text after "title =" and the blanks after
// it, up to the end of the line; nullptr when the line is not that key or
// the value is empty.
char* GetKeyValue(char* buf, const char* title, int index);

// One decimal digit: stores it in `destination`, sets the presence marker of
// `key` to kWellFormed and returns 0; otherwise prints "ERROR: " and
// `message`, sets the marker to kMalformed and returns -1.
int ReadEnableValue(char* string, IniMarkers& markers, const char* key, int32_t& destination,
                    const char* message);

// Converts a string that passed CheckDecimalValue / CheckHexValue.
uint32_t DecimalTextValue(const char* string);
uint32_t HexTextValue(const char* string);

// How a line reads: blank, a section header, or a key line.
enum class IniLineKind { kBlank, kHeader, kKey };
// Classifies the NUL-terminated line `buf`; `*first` receives the index of
// its first non-blank character.
IniLineKind ClassifyIniLine(const char* buf, int* first);

// One key line of a section, as handed to a section handler.
struct IniKeyLine {
  char* buf;   // the line, NUL-terminated, valid until the next line is read
  int first;   // index of the line's first non-blank character
  long start;  // file offset of buf[0]
};

// The loop every section handler runs over the lines of its section:
// calls `on_key_line` for every key line up to the next header or the end
// of the file, then leaves the file positioned after the last key line so
// that the section scan reads the next header again. Returns 0, or -1 after
// a message when the file cannot be positioned.
template <typename OnKeyLine>
int ReadSectionKeyLines(std::FILE* file, OnKeyLine&& on_key_line);

// Implementation details of ReadSectionKeyLines.
long IniTell(std::FILE* file);
int IniRewind(std::FILE* file, long position);

template <typename OnKeyLine>
int ReadSectionKeyLines(std::FILE* file, OnKeyLine&& on_key_line) {
  char buf[kIniLineCapacity];
  long rewind_position = IniTell(file);
  if (rewind_position < 0) return -1;
  int status = kIniLineBreak;
  while (status == kIniLineBreak) {
    int len = kIniLineCapacity;
    long start = 0;
    status = ReadIniLine(file, buf, &len, &start);
    int first = 0;
    const IniLineKind kind = ClassifyIniLine(buf, &first);
    if (kind == IniLineKind::kBlank) continue;
    if (kind == IniLineKind::kHeader) return IniRewind(file, rewind_position);
    IniKeyLine line{buf, first, start};
    on_key_line(line);
    rewind_position = IniTell(file);
    if (rewind_position < 0) return -1;
  }
  return 0;
}
