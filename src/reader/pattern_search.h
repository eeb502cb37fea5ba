// SPDX-License-Identifier: MIT
// Fast search for a short pattern (the marker, a program's name, a '/') in
// a counted buffer.
#pragma once

namespace korrin {

// A pattern of one byte or more.
struct Pattern {
  const char* bytes;
  int length;
};

constexpr char kMarker[] = "WORKING";
constexpr int kMarkerLength = 7;
constexpr Pattern kMarkerPattern = {kMarker, kMarkerLength};

// The index of the first place where the whole pattern lies among the first
// `count` bytes of `data`, or -1.
int FindPattern(const char* data, int count, const Pattern& pattern);

// The index of the last such place, or -1.
int FindLastPattern(const char* data, int count, const Pattern& pattern);

inline int FindMarker(const char* data, int count) {
  return FindPattern(data, count, kMarkerPattern);
}

// The ways of searching, best first: FindPattern and FindLastPattern take
// the first that the processor runs (AVX2 or SSE2 on x86-64; elsewhere
// memchr-driven with a word-by-word fallback, and word by word backwards).
// Each gives the same results.
struct PatternFinder {
  using Find = int (*)(const char* data, int count, const Pattern& pattern);
  const char* name;
  Find find;
  Find find_last;
  bool (*available)();
};
extern const PatternFinder kPatternFinders[];
extern const int kPatternFinderCount;

}  // namespace korrin
