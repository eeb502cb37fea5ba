// Finding the constant block in a generated program file.
#pragma once

#include "driver/run_state.h"
#include "reader/block_decode.h"
#include "reader/marker_search.h"
#include "reader/program_ref.h"

namespace korrin {

constexpr int kChunkSize = 10000;  // bytes asked for by each chunk read
constexpr int kMinChunk = 200;     // a shorter chunk ends the scan
constexpr int kWindowSize = 200;   // bytes asked for after a marker

// The bytes of the file being scanned. The chunks and windows of the scan
// are views into it; the file is read forward with large reads, so a chunk
// or a window already read is never read again.
constexpr int kBufferSize = 128 * 1024;
struct ScanBuffers {
  char data[kBufferSize];
};

// Scans the open file `fd` from its start for the marker and the block after
// it. `size` is the size the file had when opened, or -1 if unknown.
// Returns the anchor and sets `window`, or returns -1 when not found.
int FindBlock(int fd, const char* ext_name, ScanBuffers& bufs, Window* window, int64_t size = -1);

// Opens `ref.Path` if it names a regular file. Returns '1' and sets `fd` and
// `size`, or returns '0'. Never blocks on a FIFO or device.
char OuvertureFichier(const ProgramRef& ref, int* fd, int64_t* size);

// Looks inside one listed file: opens it, announces it, counts its size,
// searches and decodes the block; leaves the outcome in `ref.Status`.
void CrvDay(ProgramRef& ref, RunState& run);

}  // namespace korrin
