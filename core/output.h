// Output helpers. Everything goes to standard output; an error is the text
// "ERROR: " followed by its message, a warning "WARNING: " and its message.
#pragma once

#include <string>

#if defined(__GNUC__)
#define ORN_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ORN_PRINTF_LIKE(fmt, args)
#endif

// Prints "ERROR: " and then the formatted message.
void PrintError(const char* format, ...) ORN_PRINTF_LIKE(1, 2);
// Prints "WARNING: " and then the formatted message.
void PrintWarning(const char* format, ...) ORN_PRINTF_LIKE(1, 2);

// While one exists, keeps the first error message printed (without
// "ERROR: ", surrounding blanks and line ends), so that the run can name it
// in its production record. The run installs it once; the hook it sets is
// the only process-wide state of the output helpers.
class FirstErrorRecorder {
 public:
  FirstErrorRecorder();
  ~FirstErrorRecorder();
  FirstErrorRecorder(const FirstErrorRecorder&) = delete;
  FirstErrorRecorder& operator=(const FirstErrorRecorder&) = delete;

  const std::string& text() const { return text_; }
  void Record(const std::string& message);

 private:
  std::string text_;
  bool recorded_ = false;
  FirstErrorRecorder* previous_;
};
