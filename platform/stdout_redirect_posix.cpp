#include "platform/stdout_redirect.h"

#include <unistd.h>

#include <cstdio>

namespace platform {

StdoutToStderr::StdoutToStderr() {
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  if (saved_ >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    close(saved_);
    saved_ = -1;
  }
}

StdoutToStderr::~StdoutToStderr() {
  std::fflush(stdout);
  if (saved_ < 0) return;
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
}

}  // namespace platform

namespace platform {

void SetBinaryStdout() {}

}  // namespace platform
