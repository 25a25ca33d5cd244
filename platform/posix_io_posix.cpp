#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix_io.h"

#ifndef F_OFD_SETLK
#error "open file description locks (F_OFD_SETLK) are needed"
#endif

namespace platform {

bool WriteAll(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, at, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool SetOfdLock(int fd, short type, uint64_t offset, bool wait) {
  struct flock region {};
  region.l_type = type;
  region.l_whence = SEEK_SET;
  region.l_start = static_cast<off_t>(offset);
  region.l_len = 1;
  region.l_pid = 0;
  return fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &region) == 0;
}

}  // namespace platform
