#include "platform/file_replace.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool ReplaceFileContents(const std::string& path, const uint8_t* data, size_t size) {
  const std::string temp = path + ".tmp~";
  std::FILE* out = std::fopen(temp.c_str(), "wb");
  if (!out) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, out) == size;
  ok = std::fflush(out) == 0 && ok;
  ok = std::fclose(out) == 0 && ok;

  std::error_code ec;
  if (ok) {
    const fs::file_status old_status = fs::status(path, ec);
    if (!ec && fs::exists(old_status)) {
      fs::permissions(temp, old_status.permissions(), fs::perm_options::replace, ec);
      ok = !ec;
    }
  }
  if (ok) {
    // Atomic on POSIX; MoveFileEx with replacement on Windows.
    fs::rename(temp, path, ec);
    ok = !ec;
  }
  if (!ok) fs::remove(temp, ec);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;
  content.clear();
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) content.append(buffer, n);
  const bool ok = !std::ferror(in);
  std::fclose(in);
  return ok;
}
