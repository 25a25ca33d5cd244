// The Windows C library has no memmem: a Boyer-Moore-Horspool search.
#include <algorithm>
#include <functional>

#include "platform/find_bytes.h"

namespace platform {

const char* FindBytes(const char* haystack, size_t haystack_size, const char* needle,
                      size_t needle_size) {
  const char* end = haystack + haystack_size;
  const char* hit = std::search(haystack, end, std::boyer_moore_horspool_searcher(needle, needle + needle_size));
  return hit == end && needle_size > 0 ? nullptr : hit;
}

}  // namespace platform
