// Whole-file replacement with POSIX calls: an exclusively created temporary
// file, fsync, fchown/fchmod to the old file's owner, group and mode, rename,
// and fsync of the folder so that the rename itself survives a power cut.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/file_replace.h"
#include "platform/posix_io.h"

namespace platform {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A name beside `path` for a temporary file: process ID, clock and a counter
// make it unique on one host; the exclusive create catches the rest (other
// hosts on a shared folder).
std::string TemporaryName(const std::string& path, unsigned attempt) {
  static unsigned counter = 0;
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%llx-%u-%u", static_cast<long>(getpid()),
                static_cast<unsigned long long>(ticks), ++counter, attempt);
  return path + suffix;
}

bool InGroups(gid_t gid) {
  if (gid == getegid()) return true;
  const int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = getgroups(n, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<size_t>(i)] == gid) return true;
  }
  return false;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const uint8_t* data, size_t size, uint32_t* error) {
  auto failed = [error] {
    if (error != nullptr) *error = static_cast<uint32_t>(errno);
    return false;
  };
  struct stat old {};
  const bool exists = stat(path.c_str(), &old) == 0;

  std::string temp;
  int fd = -1;
  for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = TemporaryName(path, attempt);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return failed();
  }
  if (fd < 0) return failed();

  bool ok = size == 0 || WriteAll(fd, data, size);
  if (ok && exists) {
    // Owner and group first: a change of owner may clear the set-ID bits
    // that the mode then puts back.
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
      ok = fchown(fd, old.st_uid, old.st_gid) == 0;
    }
    ok = ok && fchmod(fd, old.st_mode & 07777) == 0;
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    const int why = errno;
    unlink(temp.c_str());
    errno = why;
    return failed();
  }
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);  // some file systems cannot sync a folder; the rename stands anyway
    close(folder);
  }
  return true;
}

std::FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

std::string RealFilePath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string result(real);
  std::free(real);
  return result;
}

std::string WhyNotReplaceable(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::string("cannot be examined: ") + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::string("cannot be written: ") + std::strerror(errno);
  close(fd);
  const std::string folder = FolderOf(path);
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return "cannot be replaced: its folder " + folder + " does not take new files (" +
           std::strerror(errno) + ")";
  }
  if (geteuid() != 0) {
    if (st.st_uid != geteuid()) {
      return "belongs to another user: a new copy of it could not keep its owner";
    }
    if (!InGroups(st.st_gid)) {
      return "belongs to a group this user is not in: a new copy of it could not keep its group";
    }
  }
  return "";
}

}  // namespace platform
