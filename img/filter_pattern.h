// The wake-up filter block keeps only a checksum of the 128 pattern bytes
// and a mask of which of them are nonzero. To write the block back as an
// INI file, a pattern with exactly that mask and that checksum is needed.
// The checksum is affine over GF(2) in the pattern bits, so such a pattern
// is found by solving 16 linear equations, with the extra rule that every
// masked byte is nonzero.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace img {

using FilterMask = std::array<uint8_t, 16>;     // bit (i mod 8) of byte i/8: pattern byte i nonzero
using FilterPattern = std::array<uint8_t, 128>;

// A pattern whose nonzero bytes are exactly the masked positions and whose
// checksum is `crc`; none when no such pattern exists.
std::optional<FilterPattern> SolveFilterPattern(const FilterMask& mask, uint16_t crc);

// The mask of a pattern, as the image builder makes it.
FilterMask MaskOfPattern(const FilterPattern& pattern);

}  // namespace img
