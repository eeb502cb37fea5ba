// SPDX-License-Identifier: MIT
// Fast search for the marker in a chunk.
#pragma once

namespace korrin {

constexpr char kMarker[] = "WORKING";
constexpr int kMarkerLength = 7;

// The same result as FindBytes(count, data, "WORKING"): the index of the first
// whole "WORKING" among the first `count` bytes of `data`, or -1.
int FindMarker(const char* data, int count);

// The implementations FindMarker chooses from, by what the processor has:
// AVX2 or SSE2 on x86-64, memchr-driven with a word-by-word fallback on
// other processors.
int FindMarkerScalar(const char* data, int count);
int FindMarkerWordwise(const char* data, int count);
int FindMarkerPortable(const char* data, int count);
int FindMarkerSse2(const char* data, int count);  // x86-64 only
int FindMarkerAvx2(const char* data, int count);  // x86-64 with AVX2 only
bool HasAvx2();

}  // namespace korrin
