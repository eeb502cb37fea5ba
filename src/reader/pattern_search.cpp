// SPDX-License-Identifier: MIT
#include "reader/pattern_search.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace korrin {
namespace {

// Every finder looks at candidates, the places whose first and last bytes
// match the pattern's, and compares the bytes between only there.
bool MiddleMatches(const char* place, const Pattern& pattern) {
  return pattern.length <= 2 ||
         std::memcmp(place + 1, pattern.bytes + 1, static_cast<size_t>(pattern.length) - 2) == 0;
}

bool MatchesAt(const char* place, const Pattern& pattern) {
  return place[0] == pattern.bytes[0] &&
         place[pattern.length - 1] == pattern.bytes[pattern.length - 1] &&
         MiddleMatches(place, pattern);
}

int FindScalarFrom(const char* data, int from, int count, const Pattern& pattern) {
  for (int j = from; j + pattern.length <= count; ++j) {
    if (MatchesAt(data + j, pattern)) return j;
  }
  return -1;
}

int FindScalar(const char* data, int count, const Pattern& pattern) {
  return FindScalarFrom(data, 0, count, pattern);
}

// Eight places a step, in any byte order: a byte of `word` is flagged when
// it is zero. Flags above a zero byte may be false, never missing, so each
// flagged place is compared whole.
uint64_t ZeroBytes(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHighs = 0x8080808080808080;
  return (word - kOnes) & ~word & kHighs;
}

int FindWordwiseFrom(const char* data, int from, int count, const Pattern& pattern) {
  const uint64_t firsts = 0x0101010101010101 * static_cast<unsigned char>(pattern.bytes[0]);
  const uint64_t lasts =
      0x0101010101010101 * static_cast<unsigned char>(pattern.bytes[pattern.length - 1]);
  int j = from;
  for (; j + 8 + pattern.length - 1 <= count; j += 8) {
    uint64_t first_bytes;
    uint64_t last_bytes;
    std::memcpy(&first_bytes, data + j, 8);
    std::memcpy(&last_bytes, data + j + pattern.length - 1, 8);
    uint64_t flags = ZeroBytes((first_bytes ^ firsts) | (last_bytes ^ lasts));
    while (flags != 0) {  // lowest address first
      const int byte = std::endian::native == std::endian::little ? std::countr_zero(flags) / 8
                                                                  : std::countl_zero(flags) / 8;
      if (MatchesAt(data + j + byte, pattern)) return j + byte;
      flags &= ~(uint64_t{0x80} << (std::endian::native == std::endian::little ? byte * 8
                                                                               : (7 - byte) * 8));
    }
  }
  return FindScalarFrom(data, j, count, pattern);
}

int FindWordwise(const char* data, int count, const Pattern& pattern) {
  return FindWordwiseFrom(data, 0, count, pattern);
}

// On any processor: candidates are the places of one of the pattern's bytes
// (its fourth, the marker's K, rare in program text), found by memchr, which
// the C library vectorises everywhere. Where that byte turns out to be
// common, the rest is searched word by word, which has no bad case.
int FindPortable(const char* data, int count, const Pattern& pattern) {
  const int at = pattern.length > 3 ? 3 : pattern.length - 1;
  const int most_misses = 8 + count / 256;
  int misses = 0;
  const char* const end = data + count;
  for (const char* p = data + at; p < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, pattern.bytes[at], static_cast<size_t>(end - p)));
    if (p == nullptr || p - at + pattern.length > end) return -1;
    const char* const start = p - at;
    if (MatchesAt(start, pattern)) return static_cast<int>(start - data);
    if (++misses > most_misses) {
      return FindWordwiseFrom(data, static_cast<int>(start - data) + 1, count, pattern);
    }
  }
  return -1;
}

#if defined(__x86_64__)
// 32 places at a time: the byte at each against the pattern's first and the
// byte length - 1 further on against its last.
__attribute__((target("avx2"))) uint32_t Candidates32(const char* p, const Pattern& pattern,
                                                      __m256i first, __m256i last) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + pattern.length - 1));
  return static_cast<uint32_t>(_mm256_movemask_epi8(
      _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last))));
}

// 64 places a step, candidates checked in order.
__attribute__((target("avx2"))) int FindAvx2(const char* data, int count, const Pattern& pattern) {
  const __m256i first = _mm256_set1_epi8(pattern.bytes[0]);
  const __m256i last = _mm256_set1_epi8(pattern.bytes[pattern.length - 1]);
  int j = 0;
  for (; j + 64 + pattern.length - 1 <= count; j += 64) {
    const uint64_t mask = Candidates32(data + j, pattern, first, last) |
                          uint64_t{Candidates32(data + j + 32, pattern, first, last)} << 32;
    for (uint64_t m = mask; m != 0; m &= m - 1) {
      const int k = j + __builtin_ctzll(m);
      if (MiddleMatches(data + k, pattern)) return k;
    }
  }
  return FindScalarFrom(data, j, count, pattern);
}

int FindSse2(const char* data, int count, const Pattern& pattern) {
  const __m128i first = _mm_set1_epi8(pattern.bytes[0]);
  const __m128i last = _mm_set1_epi8(pattern.bytes[pattern.length - 1]);
  int j = 0;
  for (; j + 16 + pattern.length - 1 <= count; j += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + j));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + j + pattern.length - 1));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    for (; mask != 0; mask &= mask - 1) {
      const int k = j + __builtin_ctz(mask);
      if (MiddleMatches(data + k, pattern)) return k;
    }
  }
  return FindScalarFrom(data, j, count, pattern);
}

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

bool Always() {
  return true;
}

// The first finder of kPatternFinders that this processor runs.
PatternFinder::Find BestFinder() {
  for (int k = 0; k < kPatternFinderCount; ++k) {
    if (kPatternFinders[k].available()) return kPatternFinders[k].find;
  }
  return FindScalar;
}

}  // namespace

const PatternFinder kPatternFinders[] = {
#if defined(__x86_64__)
    {"avx2", FindAvx2, HasAvx2},        {"sse2", FindSse2, Always},
#endif
    {"portable", FindPortable, Always}, {"wordwise", FindWordwise, Always},
    {"scalar", FindScalar, Always},
};
const int kPatternFinderCount = static_cast<int>(std::size(kPatternFinders));

int FindPattern(const char* data, int count, const Pattern& pattern) {
  static const PatternFinder::Find find = BestFinder();
  return pattern.length > count ? -1 : find(data, count, pattern);
}

}  // namespace korrin
