// Small POSIX helpers that the platform's files and locks share. Both are
// async-signal-safe, so the stop record's signal handler may use them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Writes all `size` bytes, going on after interrupted or partial writes.
bool WriteAll(int fd, const void* data, size_t size);

// Sets (`type` F_WRLCK) or clears (F_UNLCK) an open-file-description lock on
// the one byte at `offset`; with `wait` it waits while another holds it.
bool SetOfdLock(int fd, short type, uint64_t offset, bool wait = false);

}  // namespace platform
