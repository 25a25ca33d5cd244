// Finding where a CSV field may hold one of two short texts, in a large
// buffer at the speed of memory: the search looks for each text's last two
// bytes followed by the end of a field. In a factory's records the last
// bytes differ far more than the first ones (MAC addresses share their
// vendor prefix, serial numbers their leading zeros), and digests and
// times, which hold the same digits, seldom end a field there. The caller
// checks the rest. ASCII letters match in either case.
#pragma once

#include <cstddef>
#include <string_view>

// What a field's text ends with: its last two bytes, or its only byte.
struct FieldEnding {
  std::string_view tail;  // one or two bytes; empty: looked for nowhere
};

// The first position p in [from, end) where one of the endings stands
// (p[0], p[1] its bytes, then a comma or a double quote, all inside the
// range; p[0] and then a comma or quote for a one-byte ending). Null when
// there is none. `which` tells the endings that stand at p (bit 0: `a`,
// bit 1: `b`).
const char* FindFieldEnding(const char* from, const char* end, FieldEnding a, FieldEnding b, unsigned& which);

// True when the `text.size()` bytes at `at` are `text`, ASCII letters in
// either case.
bool EqualsCaseless(const char* at, std::string_view text);
