// SPDX-License-Identifier: MIT
#include "reader/marker_search.h"

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
  return FindScalar(data, 0, count);
}
#endif

}  // namespace korrin
