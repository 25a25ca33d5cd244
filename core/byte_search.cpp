#include "core/byte_search.h"

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORN_X86 1
#endif

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// The bits a byte is ORed with before it is compared: 0x20 makes a letter
// lower case; other bytes are compared as they are.
unsigned char FoldMask(char c) { return IsLetter(c) ? 0x20 : 0x00; }
char Folded(char c) { return static_cast<char>(c | FoldMask(c)); }
bool Same(char text, char folded, unsigned char mask) { return static_cast<char>(text | mask) == folded; }
bool EndsField(char c) { return c == ',' || c == '"'; }

// One ending as the search compares it: two bytes, each with its fold
// mask; a one-byte ending compares its byte second and matches any first.
struct Probe {
  bool used = false;
  char first = 0, second = 0;
  unsigned char first_mask = 0xFF, second_mask = 0;

  explicit Probe(FieldEnding e) {
    if (e.tail.empty()) return;
    used = true;
    const char last = e.tail.back();
    second = Folded(last);
    second_mask = FoldMask(last);
    if (e.tail.size() >= 2) {
      first = Folded(e.tail[e.tail.size() - 2]);
      first_mask = FoldMask(e.tail[e.tail.size() - 2]);
    } else {
      first = static_cast<char>(0xFF);  // every byte ORed with 0xFF is 0xFF
    }
  }
  // Whether the ending stands at p, whose p[1] and p[2] are inside the buffer.
  bool At(const char* p) const {
    return used && Same(p[0], first, first_mask) && Same(p[1], second, second_mask) && EndsField(p[2]);
  }
};

unsigned Which(const Probe& a, const Probe& b, const char* p) { return (a.At(p) ? 1u : 0u) | (b.At(p) ? 2u : 0u); }

#ifdef ORN_X86
// Sixteen positions at a time with SSE2, which every x86-64 processor has,
// 32 with AVX2 where the processor has it; the rest byte by byte.
const char* ScanRest(const char* p, const char* last, const Probe& a, const Probe& b, unsigned& which) {
  for (; p < last; ++p) {
    which = Which(a, b, p);
    if (which != 0) return p;
  }
  return nullptr;
}

const char* ScanSse2(const char* p, const char* last, const Probe& a, const Probe& b, unsigned& which) {
  const __m128i fa = _mm_set1_epi8(a.first), sa = _mm_set1_epi8(a.second);
  const __m128i fma = _mm_set1_epi8(static_cast<char>(a.first_mask)), sma = _mm_set1_epi8(static_cast<char>(a.second_mask));
  const __m128i fb = _mm_set1_epi8(b.first), sb = _mm_set1_epi8(b.second);
  const __m128i fmb = _mm_set1_epi8(static_cast<char>(b.first_mask)), smb = _mm_set1_epi8(static_cast<char>(b.second_mask));
  const __m128i use_a = _mm_set1_epi8(a.used ? -1 : 0), use_b = _mm_set1_epi8(b.used ? -1 : 0);
  const __m128i comma = _mm_set1_epi8(','), quote = _mm_set1_epi8('"');
  for (; last - p >= 16; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(z, comma), _mm_cmpeq_epi8(z, quote));
    const __m128i hit_a = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(x, fma), fa), _mm_cmpeq_epi8(_mm_or_si128(y, sma), sa)), use_a);
    const __m128i hit_b = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(x, fmb), fb), _mm_cmpeq_epi8(_mm_or_si128(y, smb), sb)), use_b);
    const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_or_si128(hit_a, hit_b), ends)));
    if (bits != 0) {
      const char* at = p + __builtin_ctz(bits);
      which = Which(a, b, at);
      return at;
    }
  }
  return ScanRest(p, last, a, b, which);
}

__attribute__((target("avx2"))) const char* ScanAvx2(const char* p, const char* last, const Probe& a, const Probe& b,
                                                     unsigned& which) {
  const __m256i fa = _mm256_set1_epi8(a.first), sa = _mm256_set1_epi8(a.second);
  const __m256i fma = _mm256_set1_epi8(static_cast<char>(a.first_mask));
  const __m256i sma = _mm256_set1_epi8(static_cast<char>(a.second_mask));
  const __m256i fb = _mm256_set1_epi8(b.first), sb = _mm256_set1_epi8(b.second);
  const __m256i fmb = _mm256_set1_epi8(static_cast<char>(b.first_mask));
  const __m256i smb = _mm256_set1_epi8(static_cast<char>(b.second_mask));
  const __m256i use_a = _mm256_set1_epi8(a.used ? -1 : 0), use_b = _mm256_set1_epi8(b.used ? -1 : 0);
  const __m256i comma = _mm256_set1_epi8(','), quote = _mm256_set1_epi8('"');
  for (; last - p >= 32; p += 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    const __m256i z = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
    const __m256i ends = _mm256_or_si256(_mm256_cmpeq_epi8(z, comma), _mm256_cmpeq_epi8(z, quote));
    const __m256i hit_a = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(x, fma), fa), _mm256_cmpeq_epi8(_mm256_or_si256(y, sma), sa)),
        use_a);
    const __m256i hit_b = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(x, fmb), fb), _mm256_cmpeq_epi8(_mm256_or_si256(y, smb), sb)),
        use_b);
    const unsigned bits =
        static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(_mm256_or_si256(hit_a, hit_b), ends)));
    if (bits != 0) {
      const char* at = p + __builtin_ctz(bits);
      which = Which(a, b, at);
      return at;
    }
  }
  return ScanRest(p, last, a, b, which);
}

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

}  // namespace

const char* FindFieldEnding(const char* from, const char* end, FieldEnding a, FieldEnding b, unsigned& which) {
  which = 0;
  if (from == nullptr || end - from < 3) return nullptr;
  const Probe pa(a), pb(b);
  if (!pa.used && !pb.used) return nullptr;
  const char* last = end - 2;  // a match starts before it
#ifdef ORN_X86
  return HaveAvx2() ? ScanAvx2(from, last, pa, pb, which) : ScanSse2(from, last, pa, pb, which);
#else
  for (const char* p = from; p < last; ++p) {
    which = Which(pa, pb, p);
    if (which != 0) return p;
  }
  return nullptr;
#endif
}

bool EqualsCaseless(const char* at, std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (!Same(at[i], Folded(text[i]), FoldMask(text[i]))) return false;
  }
  return true;
}
