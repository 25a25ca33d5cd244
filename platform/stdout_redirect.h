// Sending standard output to standard error for a while. The library's
// flows print their messages on standard output; a tool whose standard
// output carries a document (an INI file, a JSON report) runs them inside a
// StdoutToStderr so that their messages reach the user as diagnostics and
// never mix with the document.
#pragma once

namespace platform {

class StdoutToStderr {
 public:
  // Flushes standard output and points it at standard error.
  StdoutToStderr();
  // Flushes and points standard output back where it was.
  ~StdoutToStderr();
  StdoutToStderr(const StdoutToStderr&) = delete;
  StdoutToStderr& operator=(const StdoutToStderr&) = delete;

 private:
  int saved_ = -1;  // duplicate of the original standard output, or -1
};

// Standard output takes bytes as they are: no LF becomes CR LF on Windows,
// so that a CSV document keeps its CR LF line ends.
void SetBinaryStdout();

}  // namespace platform
