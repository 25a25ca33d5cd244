// Searching a large buffer for a short byte string at the speed of the C
// library where it has a fast search.
#pragma once

#include <cstddef>

namespace platform {

// The first occurrence of `needle` in `haystack`, or null.
const char* FindBytes(const char* haystack, size_t haystack_size, const char* needle,
                      size_t needle_size);

}  // namespace platform
