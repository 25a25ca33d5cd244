// State file locking and atomic replacement with POSIX calls.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/state_file.h"

namespace sim {
namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes a temporary file beside `path`, flushes it, and renames it over
// `path`; then flushes the folder so the rename itself is durable.
bool AtomicWrite(const std::string& path, const std::string& content, mode_t mode,
                 std::string& problem) {
  const std::string temp = path + ".tmp." + std::to_string(getpid());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    problem = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  fchmod(fd, mode);  // not narrowed by the umask: the copy keeps the original's mode
  const bool written = WriteAll(fd, content) && fsync(fd) == 0;
  const int saved_errno = errno;
  if (close(fd) != 0 || !written) {
    problem = "cannot write " + temp + ": " + std::strerror(written ? errno : saved_errno);
    unlink(temp.c_str());
    return false;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    problem = "cannot rename " + temp + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  const int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

}  // namespace

StateFile::~StateFile() { Close(); }

uint32_t StateFile::Open(const std::string& path) {
  Close();
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT || errno == ENOTDIR) return 2;
      return 5;
    }
    struct stat own {};
    if (fstat(fd, &own) != 0 || !S_ISREG(own.st_mode)) {
      close(fd);
      return 5;
    }
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        close(fd);
        return 5;
      }
    }
    // The run that held the lock may have replaced the file meanwhile: the
    // lock then sits on the old copy, so start again on the new one.
    struct stat now {};
    if (stat(path.c_str(), &now) != 0 || now.st_ino != own.st_ino || now.st_dev != own.st_dev) {
      close(fd);
      if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) return 2;
      continue;
    }
    // Saving needs a temporary file beside the state file.
    if (access(DirectoryOf(path).c_str(), W_OK | X_OK) != 0) {
      close(fd);
      return 5;
    }
    path_ = path;
    handle_ = fd;
    return 0;
  }
}

bool StateFile::ReadAll(std::string& content, std::string& problem) {
  content.clear();
  const int fd = static_cast<int>(handle_);
  if (lseek(fd, 0, SEEK_SET) < 0) {
    problem = std::strerror(errno);
    return false;
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      problem = std::strerror(errno);
      return false;
    }
    content.append(buf, static_cast<size_t>(n));
  }
}

bool StateFile::Replace(const std::string& content, std::string& problem) {
  struct stat own {};
  mode_t mode = 0644;
  if (fstat(static_cast<int>(handle_), &own) == 0) mode = own.st_mode & 07777;
  return AtomicWrite(path_, content, mode, problem);
}

void StateFile::Close() {
  if (handle_ == kNoHandle) return;
  close(static_cast<int>(handle_));  // releases the lock
  handle_ = kNoHandle;
}

bool WriteNewFileAtomically(const std::string& path, const std::string& content,
                            std::string& problem) {
  return AtomicWrite(path, content, 0644, problem);
}

}  // namespace sim
