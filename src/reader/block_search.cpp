// SPDX-License-Identifier: MIT
#include "reader/block_search.h"

#include "reader/large_file_search.h"
#include "reader/marker_search.h"
#include "reader/text.h"

namespace korrin {

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

int FindBlock(FileBytes& file, const char* name, Window* window) {
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
    const int marker_at = FindMarker(chunk, chunk_length);
    if (marker_at < 0) {
      // Step back by the marker's length, so a marker cut by the chunk's end
      // is read whole at the start of the next chunk.
      chunk_start += chunk_length - kMarkerLength;
      continue;
    }
    const int64_t marker_end = chunk_start + marker_at + kMarkerLength;
    quiet_from = marker_end;
    const char* after;
    const int window_length = file.Get(marker_end, kWindowSize, &after);
    *window = Window{after, window_length};
    const int name_at = FindBytes(window_length, after, name);
    if (name_at >= 0) return name_at;
    const int slash_at = FindBytes(window_length, after, "/");
    if (slash_at < 0) {
      chunk_start = marker_end;  // a later marker may start inside the window
    } else if (slash_at + kSlashPairGap < window_length && after[slash_at + kSlashPairGap] == '/') {
      return slash_at + kSlashToAnchor;
    } else {
      chunk_start = marker_end + window_length;  // only the first '/' is tried
    }
  }
}

}  // namespace korrin
