#include "img/filter_pattern.h"

#include <bitset>
#include <random>
#include <vector>

#include "img/layout_facts.h"

namespace img {

namespace {

constexpr int kPatternBits = 128 * 8;
using VarSet = std::bitset<kPatternBits>;

// The checksum of a pattern is c0 XOR the XOR of column[j] over its set bits j.
struct ChecksumColumns {
  uint16_t c0 = 0;
  std::array<uint16_t, kPatternBits> column{};
};

const ChecksumColumns& Columns() {
  static const ChecksumColumns columns = [] {
    ChecksumColumns c;
    FilterPattern pattern{};
    c.c0 = FilterCrc(pattern.data());
    for (int j = 0; j < kPatternBits; ++j) {
      pattern[static_cast<size_t>(j / 8)] = static_cast<uint8_t>(1u << (j % 8));
      c.column[static_cast<size_t>(j)] = static_cast<uint16_t>(FilterCrc(pattern.data()) ^ c.c0);
      pattern[static_cast<size_t>(j / 8)] = 0;
    }
    return c;
  }();
  return columns;
}

struct BasisRow {
  bool used = false;
  uint16_t value = 0;
  VarSet vars;
};

// Every masked byte of the candidate nonzero.
bool AllBytesNonzero(const VarSet& x, size_t byte_count) {
  for (size_t k = 0; k < byte_count; ++k) {
    bool any = false;
    for (size_t bit = 0; bit < 8 && !any; ++bit) any = x[8 * k + bit];
    if (!any) return false;
  }
  return true;
}

}  // namespace

std::optional<FilterPattern> SolveFilterPattern(const FilterMask& mask, uint16_t crc) {
  const ChecksumColumns& columns = Columns();
  std::vector<int> positions;
  for (int i = 0; i < 128; ++i) {
    if (mask[static_cast<size_t>(i / 8)] & (1u << (i % 8))) positions.push_back(i);
  }
  if (positions.empty()) {
    if (crc != columns.c0) return std::nullopt;
    return FilterPattern{};
  }

  // Variable v is bit (v mod 8) of the (v / 8)-th masked byte. Gaussian
  // elimination keeps one basis row per leading bit; a column that reduces
  // to zero leaves a combination of variables that does not change the
  // checksum.
  std::array<BasisRow, 16> basis{};
  std::vector<VarSet> null_vectors;
  const size_t variables = positions.size() * 8;
  for (size_t v = 0; v < variables; ++v) {
    uint16_t value = columns.column[static_cast<size_t>(positions[v / 8]) * 8 + v % 8];
    VarSet vars;
    vars.set(v);
    for (int bit = 15; bit >= 0 && value != 0; --bit) {
      if (!((value >> bit) & 1u)) continue;
      BasisRow& row = basis[static_cast<size_t>(bit)];
      if (!row.used) {
        row = {true, value, vars};
        value = 0;
        vars.reset();
        break;
      }
      value ^= row.value;
      vars ^= row.vars;
    }
    if (vars.any()) null_vectors.push_back(vars);
  }

  // One solution of the equations.
  uint16_t target = static_cast<uint16_t>(crc ^ columns.c0);
  VarSet particular;
  for (int bit = 15; bit >= 0; --bit) {
    if (!((target >> bit) & 1u)) continue;
    const BasisRow& row = basis[static_cast<size_t>(bit)];
    if (!row.used) return std::nullopt;
    target ^= row.value;
    particular ^= row.vars;
  }

  // Among all solutions, one whose masked bytes are all nonzero: every
  // combination of the null vectors when there are few, else a fixed
  // sequence of random ones (with many free bits nearly every solution
  // qualifies).
  std::optional<VarSet> found;
  const size_t free_count = null_vectors.size();
  if (free_count <= 12) {
    VarSet x = particular;
    const uint32_t combinations = 1u << free_count;
    for (uint32_t i = 0; i < combinations; ++i) {
      if (i > 0) {
        // Gray code: one null vector changes per step.
        int changed = 0;
        while (!((i >> changed) & 1u)) ++changed;
        x ^= null_vectors[static_cast<size_t>(changed)];
      }
      if (AllBytesNonzero(x, positions.size())) {
        found = x;
        break;
      }
    }
  } else {
    std::mt19937 random(0x5300u);
    for (int attempt = 0; attempt < 4096 && !found; ++attempt) {
      VarSet x = particular;
      if (attempt > 0) {
        for (const VarSet& n : null_vectors) {
          if (random() & 1u) x ^= n;
        }
      }
      if (AllBytesNonzero(x, positions.size())) found = x;
    }
  }
  if (!found) return std::nullopt;

  FilterPattern pattern{};
  for (size_t k = 0; k < positions.size(); ++k) {
    uint8_t value = 0;
    for (size_t bit = 0; bit < 8; ++bit) {
      if ((*found)[8 * k + bit]) value = static_cast<uint8_t>(value | (1u << bit));
    }
    pattern[static_cast<size_t>(positions[k])] = value;
  }
  return pattern;
}

FilterMask MaskOfPattern(const FilterPattern& pattern) {
  FilterMask mask{};
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != 0) mask[i / 8] = static_cast<uint8_t>(mask[i / 8] | (1u << (i % 8)));
  }
  return mask;
}

}  // namespace img
