// Shared pieces of the fuzz targets: a scratch file per process that each
// input is written to, and silencing the tool's own output so that the
// fuzzer's reports stay readable.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace fuzz {

// Everything the tool prints goes to standard output; the fuzzer reports on
// standard error. Sending standard output to /dev/null keeps the log short
// and the runs fast.
inline void SilenceStdout() {
  std::fflush(stdout);
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) {
    dup2(null_fd, 1);
    close(null_fd);
  }
}

// A private folder made once per process (the fuzz targets run in one
// process for their whole session), inside ORN_FUZZ_SCRATCH when it is set
// (fuzz/run.sh points it at a folder that it removes afterwards), else in
// memory (/dev/shm) where there is one, since every input is written to a
// file, else under TMPDIR or /tmp.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* scratch = getenv("ORN_FUZZ_SCRATCH");
    const char* tmp = getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    if (access("/dev/shm", W_OK) == 0) base = "/dev/shm";
    if (scratch && *scratch) base = scratch;
    std::string tmpl = base + "/orn5300-fuzz-" + std::string(6, 'X');  // mkdtemp placeholder
    if (mkdtemp(tmpl.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return tmpl;
  }();
  return dir;
}

inline std::string ScratchPath(const char* name) { return ScratchDir() + "/" + name; }

// Writes `size` bytes to `path`, replacing the file.
inline void WriteScratchFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::abort();
  }
  if (size > 0 && std::fwrite(data, 1, size, file) != size) {
    std::perror(path.c_str());
    std::abort();
  }
  std::fclose(file);
}

// Takes bytes from the front of the fuzz input to steer a target (flags,
// lengths), so one input covers both the steering and the file content.
class InputSplitter {
 public:
  InputSplitter(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t TakeByte() {
    if (size_ == 0) return 0;
    const uint8_t b = data_[0];
    ++data_;
    --size_;
    return b;
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace fuzz
