// SPDX-License-Identifier: MIT
#include "reader/block_search.h"

#include <algorithm>
#include <cstring>

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

// After a window that held neither the name nor a '/', the scan goes on
// right after its marker, and so on after every later marker whose window
// holds neither. A window spans the 200 bytes from 7 after its marker, so a
// marker before the returned position cannot see the next name or the next
// '/'. It is at most `held_end` - 200, so that a chunk read there is long
// enough to be searched.
int64_t FirstMarkerInReach(int64_t next_name, int name_length, int64_t next_slash,
                           int64_t held_end) {
  const int64_t reach = kMarkerLength + kWindowSize;
  const int64_t in_reach = std::min(next_name + name_length - reach, next_slash + 1 - reach);
  return std::min(in_reach, held_end - kMinChunk);
}

}  // namespace

int64_t BlockSearch::ForwardSearch::First(int64_t from, const char* bytes, int64_t start,
                                          int count) {
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

BlockSearch::BlockSearch(ScanBytes& bytes, const char* name, const FarSearchPlan& plan)
    : bytes_(bytes),
      name_{name, static_cast<int>(std::strlen(name))},
      names_(name_),
      slashes_({"/", 1}),
      markers_(kMarkerPattern),
      quiet_length_(plan.settings.quiet_length),
      far_search_{.fd = plan.fd,
                  .from = 0,
                  .size = plan.size,
                  .segment_length = std::max<int64_t>(plan.settings.segment_length, kMarkerLength),
                  .sparse = plan.sparse},
      may_search_far_(plan.fd >= 0) {}

// After a long stretch without a marker, the chunks before the next one
// hold none: a far search finds it.
bool BlockSearch::WantsFarSearch() const {
  return may_search_far_ && chunk_start_ - quiet_from_ >= quiet_length_ &&
         far_search_.size > chunk_start_;
}

// A pass starts with a far search when the stretch before it is long, and
// only one: the pass after it reads the chunk that search found.
ScanStep BlockSearch::Continue() {
  for (;;) {
    if (!resumed_ && WantsFarSearch()) {
      far_search_.from = chunk_start_;
      return ScanStep::FarSearch;
    }
    resumed_ = false;
    if (no_marker_left_) return ScanStep::NotFound;
    if (Pass()) return anchor_ >= 0 ? ScanStep::Found : ScanStep::NotFound;
  }
}

void BlockSearch::Resume(int64_t next_marker) {
  resumed_ = true;
  if (next_marker == kUnsure) {  // a short or failed read: the plain scan meets it
    may_search_far_ = false;
  } else if (next_marker == kNoMarker) {
    no_marker_left_ = true;
  } else {
    chunk_start_ = ChunkHolding(chunk_start_, next_marker);
    quiet_from_ = chunk_start_;
  }
}

// Where the scan reads its next chunk once the markers from `start` to
// `in_reach` are passed over; the `held_length` bytes from `start` on are
// held at `held`. Straight at `in_reach` when a marker starts there or later
// among those bytes: that chunk and the one read after the last marker
// passed over meet that same marker first. Otherwise right after the last
// marker passed over. The chunks read from `in_reach` would not fall where
// the plain scan's fall, and near the end of the file one may be too short
// where the other is not.
int64_t BlockSearch::ChunkAfterPassedMarkers(int64_t start, const char* held, int held_length,
                                             int64_t in_reach) {
  const auto skipped = static_cast<int>(in_reach - start);
  if (skipped == 0 || markers_.First(in_reach, held, start, held_length) >= 0) return in_reach;
  // The last marker that starts before `in_reach`, searched backwards.
  const int last = FindLastPattern(held, skipped + kMarkerLength - 1, kMarkerPattern);
  return last < 0 ? start : start + last + kMarkerLength;
}

bool BlockSearch::Pass() {
  const char* chunk;
  const int chunk_length = bytes_.Get(chunk_start_, kChunkSize, &chunk);
  if (chunk_length < kMinChunk) return true;
  const int64_t marker = markers_.First(chunk_start_, chunk, chunk_start_, chunk_length);
  if (marker < 0) {
    // Step back by the marker's length, so a marker cut by the chunk's end
    // is read whole at the start of the next chunk.
    chunk_start_ += chunk_length - kMarkerLength;
    return false;
  }
  const int64_t marker_end = marker + kMarkerLength;
  quiet_from_ = marker_end;
  const char* after;
  const int window_length = bytes_.Get(marker_end, kWindowSize, &after);
  window_ = Window{after, window_length};
  // The first place of the name, an empty one at the window's start.
  if (name_.length == 0 && window_length > 0) {
    anchor_ = 0;
    return true;
  }
  const int64_t name_at =
      name_.length == 0 ? -1 : names_.First(marker_end, after, marker_end, window_length);
  if (name_at >= 0) {
    anchor_ = static_cast<int>(name_at - marker_end);
    return true;
  }
  const int64_t slash = slashes_.First(marker_end, after, marker_end, window_length);
  if (slash >= 0) {
    const int slash_at = static_cast<int>(slash - marker_end);
    if (slash_at + kSlashPairGap < window_length && after[slash_at + kSlashPairGap] == '/') {
      anchor_ = slash_at + kSlashToAnchor;
      return true;
    }
    chunk_start_ = marker_end + window_length;  // only the first '/' is tried
    return false;
  }
  // No '/': a later marker may start inside the window. Those that cannot
  // see the next name or '/' are passed over at once.
  const char* ahead;
  const int ahead_length = bytes_.Get(marker_end, kChunkSize, &ahead);
  const int64_t ahead_end = marker_end + ahead_length;
  int64_t next_name =
      name_.length == 0 ? marker_end : names_.First(marker_end, ahead, marker_end, ahead_length);
  if (next_name < 0) next_name = ahead_end - name_.length + 1;
  int64_t next_slash = slashes_.First(marker_end, ahead, marker_end, ahead_length);
  if (next_slash < 0) next_slash = ahead_end;
  const int64_t in_reach =
      std::max(marker_end, FirstMarkerInReach(next_name, name_.length, next_slash, ahead_end));
  chunk_start_ = ChunkAfterPassedMarkers(marker_end, ahead, ahead_length, in_reach);
  return false;
}

}  // namespace korrin
