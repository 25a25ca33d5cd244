#include "support/capture.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace test {

std::string CaptureStdout(const std::function<void()>& fn) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  try {
    fn();
  } catch (...) {
    // End the capture, or every later test would print into it.
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    throw;
  }
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace test
