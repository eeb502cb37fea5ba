// SPDX-License-Identifier: MIT
#include "reader/block_search.h"

#include <algorithm>
#include <cstring>

#include "reader/large_file_search.h"
#include "reader/pattern_search.h"

namespace korrin {
namespace {

// A slash pair is a '/' with another three bytes later; the anchor then lies
// 28 bytes after the first one, on the program name's place in the block.
constexpr int kSlashPairGap = 3;
constexpr int kSlashToAnchor = 28;

// Consecutive chunks overlap by the marker's length: each starts this far
// after the one before.
constexpr int64_t kChunkStep = kChunkSize - kMarkerLength;

// The start of the first chunk, of those the scan reads from `chunk_start`
// on, that holds the whole marker at `marker`.
int64_t ChunkHolding(int64_t chunk_start, int64_t marker) {
  int64_t chunks = (marker - chunk_start) / kChunkStep;
  // A marker at the very start of a chunk ends the one before.
  if (chunks > 0 && (marker - chunk_start) % kChunkStep == 0) --chunks;
  return chunk_start + chunks * kChunkStep;
}

// The places of one pattern in the file, asked for from positions that
// mostly move forward: the windows of successive markers overlap, and so do
// the chunks; what one search found, or found absent, stays true for the
// next, so every place of the file is compared once at most while they do.
class ForwardSearch {
 public:
  explicit ForwardSearch(const Pattern& pattern) : pattern_(pattern) {}

  // The first place p >= from at which the whole pattern lies in the
  // `count` bytes from file position `start` (at most `from`) held at
  // `bytes`; -1 when there is none there.
  int64_t First(int64_t from, const char* bytes, int64_t start, int count) {
    if (from < from_) {  // a step back: what is known starts at the old `from`
      found_ = -1;
      checked_to_ = from;
    }
    from_ = from;
    const int64_t last = start + count - pattern_.length;  // the last place wholly held
    if (found_ >= from) return found_ <= last ? found_ : -1;
    // Places from `from` to checked_to_ hold nothing.
    const int64_t begin = std::max(from, checked_to_);
    if (begin > last) return -1;
    const int at = FindPattern(bytes + (begin - start),
                               static_cast<int>(last - begin) + pattern_.length, pattern_);
    found_ = at < 0 ? -1 : begin + at;
    checked_to_ = at < 0 ? last + 1 : found_ + 1;
    return found_;
  }

 private:
  const Pattern pattern_;
  int64_t from_ = 0;        // the last `from`
  int64_t checked_to_ = 0;  // the places before it, from the last `from` on, were compared
  int64_t found_ = -1;      // the first of them that holds the pattern, or -1
};

// After a window that held neither the name nor a '/', the scan goes on
// right after its marker, and so on after every later marker whose window
// holds neither. A window spans the 200 bytes from 7 after its marker, so a
// marker before the returned position cannot see the next name or the next
// '/'. It is at most `held_end` - 200, so that a chunk read there is long
// enough to be searched.
int64_t FirstUsefulMarker(int64_t next_name, int name_length, int64_t next_slash,
                          int64_t held_end) {
  const int64_t reach = kMarkerLength + kWindowSize;
  const int64_t useful = std::min(next_name + name_length - reach, next_slash + 1 - reach);
  return std::min(useful, held_end - kMinChunk);
}

// Where the scan reads its next chunk once the markers from `start` to
// `useful` are passed over, the `held_length` bytes from `start` on being
// held at `held`. Straight at `useful` when a marker starts there or later
// among those bytes: that chunk and the one read after the last marker
// passed over meet that same marker first. Otherwise right after the last
// marker passed over, for the chunks read from `useful` on would not fall
// where the chunks read from there fall, and near the end of the file one of
// them may be too short where the other is not.
int64_t ChunkAfterPassedMarkers(ForwardSearch& markers, int64_t start, const char* held,
                                int held_length, int64_t useful) {
  const auto skipped = static_cast<int>(useful - start);
  if (skipped == 0 || markers.First(useful, held, start, held_length) >= 0) return useful;
  // The last marker that starts before `useful`, searched backwards.
  const int last = FindLastPattern(held, skipped + kMarkerLength - 1, kMarkerPattern);
  return last < 0 ? start : start + last + kMarkerLength;
}

}  // namespace

int FindBlock(FileBytes& file, const char* name, Window* window) {
  const Pattern name_pattern = {name, static_cast<int>(std::strlen(name))};
  ForwardSearch names(name_pattern);
  ForwardSearch slashes({"/", 1});
  ForwardSearch markers(kMarkerPattern);
  int64_t chunk_start = 0;
  int64_t quiet_from = 0;  // no marker met from here to chunk_start
  for (;;) {
    // After a long stretch without a marker, go straight to the chunk of the
    // next one: the chunks before it hold none.
    const int64_t next_marker = file.SearchAhead(chunk_start, quiet_from);
    if (next_marker == kNoMarker) return -1;
    if (next_marker >= 0) {
      chunk_start = ChunkHolding(chunk_start, next_marker);
      quiet_from = chunk_start;
    }
    const char* chunk;
    const int chunk_length = file.Get(chunk_start, kChunkSize, &chunk);
    if (chunk_length < kMinChunk) return -1;
    const int64_t marker = markers.First(chunk_start, chunk, chunk_start, chunk_length);
    if (marker < 0) {
      // Step back by the marker's length, so a marker cut by the chunk's end
      // is read whole at the start of the next chunk.
      chunk_start += chunk_length - kMarkerLength;
      continue;
    }
    const int64_t marker_end = marker + kMarkerLength;
    quiet_from = marker_end;
    const char* after;
    const int window_length = file.Get(marker_end, kWindowSize, &after);
    *window = Window{after, window_length};
    // The first place of the name, an empty one at the window's start.
    if (name_pattern.length == 0 && window_length > 0) return 0;
    const int64_t name_at =
        name_pattern.length == 0 ? -1 : names.First(marker_end, after, marker_end, window_length);
    if (name_at >= 0) return static_cast<int>(name_at - marker_end);
    const int64_t slash = slashes.First(marker_end, after, marker_end, window_length);
    if (slash >= 0) {
      const int slash_at = static_cast<int>(slash - marker_end);
      if (slash_at + kSlashPairGap < window_length && after[slash_at + kSlashPairGap] == '/') {
        return slash_at + kSlashToAnchor;
      }
      chunk_start = marker_end + window_length;  // only the first '/' is tried
      continue;
    }
    // No '/': a later marker may start inside the window. Those that cannot
    // see the next name or '/' are passed over at once.
    const char* ahead;
    const int ahead_length = file.Get(marker_end, kChunkSize, &ahead);
    const int64_t ahead_end = marker_end + ahead_length;
    int64_t next_name = name_pattern.length == 0
                            ? marker_end
                            : names.First(marker_end, ahead, marker_end, ahead_length);
    if (next_name < 0) next_name = ahead_end - name_pattern.length + 1;
    int64_t next_slash = slashes.First(marker_end, ahead, marker_end, ahead_length);
    if (next_slash < 0) next_slash = ahead_end;
    const int64_t useful = std::max(
        marker_end, FirstUsefulMarker(next_name, name_pattern.length, next_slash, ahead_end));
    chunk_start = ChunkAfterPassedMarkers(markers, marker_end, ahead, ahead_length, useful);
  }
}

}  // namespace korrin
