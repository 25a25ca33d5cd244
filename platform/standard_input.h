// Reading the whole of standard input as bytes, for tools that take "-" as
// a file: on Windows standard input is switched to binary mode first, so
// that no byte of an image is translated.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Appends at most `limit` bytes of standard input to `bytes` and counts the
// rest in `total` (all bytes read). False on a read error.
bool ReadStandardInput(std::string& bytes, size_t limit, long long& total);

// Puts standard input into binary mode where the system has a text mode.
void SetStandardInputBinary();

}  // namespace platform
