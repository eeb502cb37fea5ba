// SPDX-License-Identifier: MIT
#include "reader/marker_search.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace korrin {
namespace {

// Candidates are the positions whose first and last marker bytes match;
// the five bytes between them are then compared.
bool MarkerAt(const char* p) {
  return std::memcmp(p + 1, kMarker + 1, kMarkerLength - 2) == 0;
}

int FindScalar(const char* data, int from, int count) {
  for (int j = from; j + kMarkerLength <= count; ++j) {
    if (data[j] == 'W' && data[j + kMarkerLength - 1] == 'G' && MarkerAt(data + j)) return j;
  }
  return -1;
}

// Eight positions a step, in any byte order: a byte of `word` is flagged
// when it is zero. Flags above a zero byte may be false, never missing, so
// each flagged position is compared whole.
uint64_t ZeroBytes(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHighs = 0x8080808080808080;
  return (word - kOnes) & ~word & kHighs;
}

int FindWordwise(const char* data, int from, int count) {
  constexpr uint64_t kFirsts = 0x0101010101010101 * 'W';
  constexpr uint64_t kLasts = 0x0101010101010101 * 'G';
  int j = from;
  for (; j + 8 + kMarkerLength - 1 <= count; j += 8) {
    uint64_t firsts;
    uint64_t lasts;
    std::memcpy(&firsts, data + j, 8);
    std::memcpy(&lasts, data + j + kMarkerLength - 1, 8);
    uint64_t flags = ZeroBytes((firsts ^ kFirsts) | (lasts ^ kLasts));
    while (flags != 0) {  // lowest address first
      const int byte = std::endian::native == std::endian::little ? std::countr_zero(flags) / 8
                                                                  : std::countl_zero(flags) / 8;
      if (std::memcmp(data + j + byte, kMarker, kMarkerLength) == 0) return j + byte;
      flags &= ~(uint64_t{0x80} << (std::endian::native == std::endian::little ? byte * 8
                                                                               : (7 - byte) * 8));
    }
  }
  return FindScalar(data, j, count);
}

// On any processor: candidates are the places of the marker's 'K', the
// rarest of its letters in program text, found by memchr, which the C
// library vectorises everywhere. Where K's turn out to be common, the rest is
// searched word by word, which has no bad case.
int FindPortable(const char* data, int count) {
  constexpr int kAtK = 3;  // "WORKING"[3] == 'K'
  const int most_misses = 8 + count / 256;
  int misses = 0;
  const char* const end = data + count;
  for (const char* k = data + kAtK; k < end; ++k) {
    k = static_cast<const char*>(std::memchr(k, 'K', static_cast<size_t>(end - k)));
    if (k == nullptr || k - kAtK + kMarkerLength > end) return -1;
    const char* const start = k - kAtK;
    if (std::memcmp(start, kMarker, kMarkerLength) == 0) return static_cast<int>(start - data);
    if (++misses > most_misses)
      return FindWordwise(data, static_cast<int>(start - data) + 1, count);
  }
  return -1;
}

#if defined(__x86_64__)
// 64 positions at a time: the byte at each position against 'W' and the byte
// six further on against 'G'; candidates are then checked in order.
__attribute__((target("avx2"))) unsigned Candidates32(const char* p) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + kMarkerLength - 1));
  return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(
      _mm256_cmpeq_epi8(a, _mm256_set1_epi8('W')), _mm256_cmpeq_epi8(b, _mm256_set1_epi8('G')))));
}

__attribute__((target("avx2"))) int FindAvx2(const char* data, int count) {
  int j = 0;
  for (; j + 64 + kMarkerLength - 1 <= count; j += 64) {
    const uint64_t mask = Candidates32(data + j) | uint64_t{Candidates32(data + j + 32)} << 32;
    for (uint64_t m = mask; m != 0; m &= m - 1) {
      const int k = j + __builtin_ctzll(m);
      if (MarkerAt(data + k)) return k;
    }
  }
  return FindScalar(data, j, count);
}

int FindSse2(const char* data, int count) {
  const __m128i first = _mm_set1_epi8('W');
  const __m128i last = _mm_set1_epi8('G');
  int j = 0;
  for (; j + 16 + kMarkerLength - 1 <= count; j += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + j));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + j + kMarkerLength - 1));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    while (mask != 0) {
      const int k = j + __builtin_ctz(mask);
      if (MarkerAt(data + k)) return k;
      mask &= mask - 1;
    }
  }
  return FindScalar(data, j, count);
}

#endif

}  // namespace

int FindMarkerScalar(const char* data, int count) {
  return FindScalar(data, 0, count);
}
int FindMarkerWordwise(const char* data, int count) {
  return FindWordwise(data, 0, count);
}
int FindMarkerPortable(const char* data, int count) {
  return FindPortable(data, count);
}

#if defined(__x86_64__)
int FindMarkerSse2(const char* data, int count) {
  return FindSse2(data, count);
}
int FindMarkerAvx2(const char* data, int count) {
  return FindAvx2(data, count);
}
bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

int FindMarker(const char* data, int count) {
  static const auto find = HasAvx2() ? FindAvx2 : FindSse2;
  return find(data, count);
}
#else
bool HasAvx2() {
  return false;
}
int FindMarker(const char* data, int count) {
  return FindPortable(data, count);
}
#endif

}  // namespace korrin
