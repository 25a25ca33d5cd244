#include "platform/stdout_redirect.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

StdoutToStderr::StdoutToStderr() {
  std::fflush(stdout);
  const int out = _fileno(stdout);
  saved_ = _dup(out);
  if (saved_ >= 0 && _dup2(_fileno(stderr), out) != 0) {
    _close(saved_);
    saved_ = -1;
  }
}

StdoutToStderr::~StdoutToStderr() {
  std::fflush(stdout);
  if (saved_ < 0) return;
  _dup2(saved_, _fileno(stdout));
  _close(saved_);
}

}  // namespace platform

namespace platform {

void SetBinaryStdout() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace platform
