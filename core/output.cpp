#include "core/output.h"

#include <cstdarg>
#include <cstdio>

namespace {

FirstErrorRecorder* g_recorder = nullptr;

}  // namespace

FirstErrorRecorder::FirstErrorRecorder() : previous_(g_recorder) { g_recorder = this; }
FirstErrorRecorder::~FirstErrorRecorder() { g_recorder = previous_; }

void FirstErrorRecorder::Record(const std::string& message) {
  if (recorded_) return;
  const size_t first = message.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return;  // an empty message names nothing
  const size_t last = message.find_last_not_of(" \t\r\n");
  text_ = message.substr(first, last - first + 1);
  for (char& c : text_) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  recorded_ = true;
}

void PrintError(const char* format, ...) {
  std::fputs("ERROR: ", stdout);
  va_list args;
  va_start(args, format);
  if (g_recorder != nullptr) {
    va_list copy;
    va_copy(copy, args);
    char text[512];
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    g_recorder->Record(text);
  }
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
