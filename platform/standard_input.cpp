#include "platform/standard_input.h"

#include <algorithm>
#include <cstdio>

namespace platform {

bool ReadStandardInput(std::string& bytes, size_t limit, long long& total) {
  SetStandardInputBinary();
  total = 0;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0;) {
    total += static_cast<long long>(n);
    if (bytes.size() < limit) bytes.append(chunk, std::min(n, limit - bytes.size()));
  }
  return std::ferror(stdin) == 0;
}

}  // namespace platform
