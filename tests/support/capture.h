// Capturing what code under test prints on standard output.
#pragma once

#include <functional>
#include <string>

namespace test {

// Runs `fn` and returns everything it printed on standard output. Buffered
// output is flushed on both sides, so text printed before the call does not
// leak in and text printed by `fn` is not lost.
std::string CaptureStdout(const std::function<void()>& fn);

}  // namespace test
