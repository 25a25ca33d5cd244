#include "platform/file_replace.h"

#include <cstdio>

namespace platform {

bool ReadWholeFile(const std::string& path, std::string& content) {
  std::FILE* in = OpenForReading(path);
  if (!in) return false;
  content.clear();
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) content.append(buffer, n);
  const bool ok = !std::ferror(in);
  std::fclose(in);
  return ok;
}

}  // namespace platform
