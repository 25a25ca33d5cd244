// Files that runs share and rewrite: whole-file replacement that never
// leaves a half-written or torn file behind, the checks that tell before a
// run whether a file can be replaced that way, and the real file behind a
// name that may be a symbolic link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Writes `size` bytes to a new temporary file beside `path` (a name no other
// run uses), flushes it to the disk and renames it over `path`, so that a
// run stopped at any moment, or a disk that fills up, leaves either the old
// or the new file, whole. A replaced file keeps its owner, group and mode
// (on Windows its attributes and access rights). On Windows a file that
// another program holds open without delete sharing cannot be replaced;
// the replacement is tried again for up to kReplaceRetryMs. false when
// anything fails, with the system error number in `error` when given; the
// temporary file is removed then and the old file is untouched.
constexpr uint32_t kReplaceRetryMs = 5000;
bool ReplaceFileContents(const std::string& path, const uint8_t* data, size_t size, uint32_t* error = nullptr);

// Opens a file for reading in binary mode the way every reader of a file
// that stations share must: on Windows with read, write and delete sharing,
// so that another station may replace the file while it is being read.
// Null with errno set when it cannot be opened.
std::FILE* OpenForReading(const std::string& path);

// Reads the whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content);

// The file that `path` names, with every symbolic link (and on Windows every
// junction) resolved, as an absolute path; `path` itself when it cannot be
// resolved (for example a missing file).
std::string RealFilePath(const std::string& path);

// Empty when the existing file `path` can be replaced by ReplaceFileContents
// by this user: the file is writable, its folder takes new files, and the
// replacement can keep its owner and group. Otherwise a short reason, to be
// printed after the file name ("is read-only", ...).
std::string WhyNotReplaceable(const std::string& path);

}  // namespace platform
