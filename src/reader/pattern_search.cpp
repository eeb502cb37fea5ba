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

// The scalar finder compares the first and last bytes of a place, and the
// bytes between only where both match.
bool MatchesAt(const char* place, const Pattern& pattern) {
  return place[0] == pattern.bytes[0] &&
         place[pattern.length - 1] == pattern.bytes[pattern.length - 1] &&
         (pattern.length <= 2 ||
          std::memcmp(place + 1, pattern.bytes + 1, static_cast<size_t>(pattern.length) - 2) == 0);
}

int FindScalarFrom(const char* data, int from, int count, const Pattern& pattern) {
  for (int j = from; j + pattern.length <= count; ++j) {
    if (MatchesAt(data + j, pattern)) return j;
  }
  return -1;
}

// The last place before `places`.
int FindLastScalarBefore(const char* data, int places, const Pattern& pattern) {
  for (int j = places - 1; j >= 0; --j) {
    if (MatchesAt(data + j, pattern)) return j;
  }
  return -1;
}

int FindScalar(const char* data, int count, const Pattern& pattern) {
  return FindScalarFrom(data, 0, count, pattern);
}

int FindLastScalar(const char* data, int count, const Pattern& pattern) {
  return FindLastScalarBefore(data, count - pattern.length + 1, pattern);
}

// The other finders take a block of places at a time and flag, in a mask,
// those that hold the whole pattern. The byte at each is compared with the
// pattern's first, the byte length - 1 further on with its last. The bytes
// between are compared only while some place is still flagged. So a block
// costs a bounded number of compares, however many of its places look
// alike. Each finder has its own two loops, forward and backward, compiled
// with its instructions. The pattern's first and last bytes are spread over
// a register once per search.

// Eight places a step, in 64-bit words loaded lowest byte first on every
// processor: place k is flagged by bit 8k + 7, the high bit of its byte.
uint64_t Load8(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

uint64_t Spread8(char byte) {
  return uint64_t{0x0101010101010101} * static_cast<unsigned char>(byte);
}

// The high bit of each zero byte of `word`, and of no other.
uint64_t ZeroBytes(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
  return ~(((word & kLow7) + kLow7) | word | kLow7);
}

uint64_t Places8(const char* p, const Pattern& pattern, uint64_t first, uint64_t last) {
  const int end = pattern.length - 1;
  uint64_t differ = (Load8(p) ^ first) | (Load8(p + end) ^ last);
  for (int k = 1; ZeroBytes(differ) != 0 && k < end; ++k) {
    differ |= Load8(p + k) ^ Spread8(pattern.bytes[k]);
  }
  return ZeroBytes(differ);
}

int FindWordwiseFrom(const char* data, int from, int count, const Pattern& pattern) {
  const uint64_t first = Spread8(pattern.bytes[0]);
  const uint64_t last = Spread8(pattern.bytes[pattern.length - 1]);
  int j = from;
  for (; j + 8 + pattern.length - 1 <= count; j += 8) {
    const uint64_t places = Places8(data + j, pattern, first, last);
    if (places != 0) return j + std::countr_zero(places) / 8;
  }
  return FindScalarFrom(data, j, count, pattern);
}

int FindWordwise(const char* data, int count, const Pattern& pattern) {
  return FindWordwiseFrom(data, 0, count, pattern);
}

int FindLastWordwise(const char* data, int count, const Pattern& pattern) {
  const uint64_t first = Spread8(pattern.bytes[0]);
  const uint64_t last = Spread8(pattern.bytes[pattern.length - 1]);
  int j = count - pattern.length + 1;  // the places before j are left to search
  for (; j >= 8; j -= 8) {
    const uint64_t places = Places8(data + j - 8, pattern, first, last);
    if (places != 0) return j - 8 + (63 - std::countl_zero(places)) / 8;
  }
  return FindLastScalarBefore(data, j, pattern);
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
// 64 places a step in AVX2 registers, bit k for place k. The helpers are
// always inlined, so that a block is compared without a call.
__attribute__((target("avx2"), always_inline)) inline __m256i Equal32(const char* p,
                                                                      __m256i bytes) {
  return _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), bytes);
}

__attribute__((target("avx2"), always_inline)) inline uint64_t Mask64(__m256i low, __m256i high) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(low)) |
         uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(high))} << 32;
}

__attribute__((target("avx2"), always_inline)) inline uint64_t Places64(const char* p,
                                                                        const Pattern& pattern,
                                                                        __m256i first,
                                                                        __m256i last) {
  const int end = pattern.length - 1;
  uint64_t places = Mask64(_mm256_and_si256(Equal32(p, first), Equal32(p + end, last)),
                           _mm256_and_si256(Equal32(p + 32, first), Equal32(p + 32 + end, last)));
  for (int k = 1; places != 0 && k < end; ++k) {
    const __m256i middle = _mm256_set1_epi8(pattern.bytes[k]);
    places &= Mask64(Equal32(p + k, middle), Equal32(p + 32 + k, middle));
  }
  return places;
}

// A search of fewer places than a block is left to the scalar loop. The
// places after the last whole block are searched in one block that overlaps
// it, their own flags shifted into place.
__attribute__((target("avx2"))) int FindAvx2(const char* data, int count, const Pattern& pattern) {
  const __m256i first = _mm256_set1_epi8(pattern.bytes[0]);
  const __m256i last = _mm256_set1_epi8(pattern.bytes[pattern.length - 1]);
  const int ends = count - pattern.length + 1;  // the places to search are before it
  int j = 0;
  for (; j + 64 <= ends; j += 64) {
    const uint64_t places = Places64(data + j, pattern, first, last);
    if (places != 0) return j + std::countr_zero(places);
  }
  if (j == ends || ends < 64) return FindScalarFrom(data, j, count, pattern);
  const int back = ends - 64;
  const uint64_t places = Places64(data + back, pattern, first, last) >> (j - back);
  return places != 0 ? j + std::countr_zero(places) : -1;
}

__attribute__((target("avx2"))) int FindLastAvx2(const char* data, int count,
                                                 const Pattern& pattern) {
  const __m256i first = _mm256_set1_epi8(pattern.bytes[0]);
  const __m256i last = _mm256_set1_epi8(pattern.bytes[pattern.length - 1]);
  const int ends = count - pattern.length + 1;
  int j = ends;  // the places before j are left to search
  for (; j >= 64; j -= 64) {
    const uint64_t places = Places64(data + j - 64, pattern, first, last);
    if (places != 0) return j - 64 + (63 - std::countl_zero(places));
  }
  if (j <= 0 || ends < 64) return FindLastScalarBefore(data, j, pattern);
  const uint64_t places = Places64(data, pattern, first, last) << (64 - j);
  return places != 0 ? j - 1 - std::countl_zero(places) : -1;
}

// 16 places a step in SSE2 registers, bit k for place k.
uint64_t Equal16(const char* p, __m128i bytes) {
  return static_cast<uint32_t>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), bytes)));
}

uint64_t Places16(const char* p, const Pattern& pattern, __m128i first, __m128i last) {
  const int end = pattern.length - 1;
  uint64_t places = Equal16(p, first) & Equal16(p + end, last);
  for (int k = 1; places != 0 && k < end; ++k) {
    places &= Equal16(p + k, _mm_set1_epi8(pattern.bytes[k]));
  }
  return places;
}

int FindSse2(const char* data, int count, const Pattern& pattern) {
  const __m128i first = _mm_set1_epi8(pattern.bytes[0]);
  const __m128i last = _mm_set1_epi8(pattern.bytes[pattern.length - 1]);
  int j = 0;
  for (; j + 16 + pattern.length - 1 <= count; j += 16) {
    const uint64_t places = Places16(data + j, pattern, first, last);
    if (places != 0) return j + std::countr_zero(places);
  }
  return FindScalarFrom(data, j, count, pattern);
}

int FindLastSse2(const char* data, int count, const Pattern& pattern) {
  const __m128i first = _mm_set1_epi8(pattern.bytes[0]);
  const __m128i last = _mm_set1_epi8(pattern.bytes[pattern.length - 1]);
  int j = count - pattern.length + 1;  // the places before j are left to search
  for (; j >= 16; j -= 16) {
    const uint64_t places = Places16(data + j - 16, pattern, first, last);
    if (places != 0) return j - 16 + (63 - std::countl_zero(places));
  }
  return FindLastScalarBefore(data, j, pattern);
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
const PatternFinder& BestFinder() {
  int k = 0;
  while (!kPatternFinders[k].available()) ++k;  // the last one always runs
  return kPatternFinders[k];
}

}  // namespace

const PatternFinder kPatternFinders[] = {
#if defined(__x86_64__)
    {"avx2", FindAvx2, FindLastAvx2, HasAvx2},
    {"sse2", FindSse2, FindLastSse2, Always},
#endif
    {"portable", FindPortable, FindLastWordwise, Always},
    {"wordwise", FindWordwise, FindLastWordwise, Always},
    {"scalar", FindScalar, FindLastScalar, Always},
};
const int kPatternFinderCount = static_cast<int>(std::size(kPatternFinders));

namespace {
// Chosen once, when the program starts: no search runs before main.
const PatternFinder& kBestFinder = BestFinder();
}  // namespace

int FindPattern(const char* data, int count, const Pattern& pattern) {
  return pattern.length > count ? -1 : kBestFinder.find(data, count, pattern);
}

int FindLastPattern(const char* data, int count, const Pattern& pattern) {
  return pattern.length > count ? -1 : kBestFinder.find_last(data, count, pattern);
}

}  // namespace korrin
