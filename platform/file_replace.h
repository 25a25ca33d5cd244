// Whole-file replacement that never leaves a half-written file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes `size` bytes to a temporary file beside `path` and renames it over
// `path`, so that a run stopped at any moment leaves either the old or the
// new file. An existing file keeps its permissions. false when the
// temporary file cannot be written or renamed (it is removed then; the old
// file is untouched).
bool ReplaceFileContents(const std::string& path, const uint8_t* data, size_t size);

// Reads the whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content);
