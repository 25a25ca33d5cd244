#include "core/output.h"

#include <cstdarg>
#include <cstdio>

void PrintError(const char* format, ...) {
  std::fputs("ERROR: ", stdout);
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

void PrintWarning(const char* format, ...) {
  std::fputs("WARNING: ", stdout);
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}
