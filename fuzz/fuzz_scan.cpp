// SPDX-License-Identifier: MIT
// The block search and the decoder over arbitrary file bytes and an
// arbitrary external name, through the scanner the program runs, checked
// against a literal in-memory model of the scan. The decoder gets a window of
// exactly its bytes, so any read outside it is caught.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "reader/block_decode.h"
#include "reader/block_search.h"
#include "reader/file_bytes.h"

namespace {

// The scan as stated, over the bytes in memory: chunks of 10000 read at
// chunk_start, a step back of 7, windows of 200 read at the end of the marker.
int Model(const std::string& file, const std::string& name, std::string* window) {
  const auto size = static_cast<int64_t>(file.size());
  auto find = [](const std::string& hay, const std::string& needle) -> int {
    if (hay.empty() || needle.size() > hay.size()) return -1;
    const size_t at = hay.find(needle);
    return at == std::string::npos ? -1 : static_cast<int>(at);
  };
  int64_t chunk_start = 0;
  for (;;) {
    const int64_t chunk_length = std::min<int64_t>(10000, size - chunk_start);
    if (chunk_length < 200) return -1;
    const int marker_at =
        find(file.substr(static_cast<size_t>(chunk_start), static_cast<size_t>(chunk_length)),
             "WORKING");
    if (marker_at < 0) {
      chunk_start += chunk_length - 7;
      continue;
    }
    const int64_t marker_end = chunk_start + marker_at + 7;
    *window = file.substr(static_cast<size_t>(marker_end), 200);
    const int window_length = static_cast<int>(window->size());
    const int name_at = find(*window, name);
    if (name_at >= 0) return name_at;
    const int slash_at = find(*window, "/");
    if (slash_at < 0) {
      chunk_start = marker_end;
    } else if (slash_at + 3 < window_length &&
               (*window)[static_cast<size_t>(slash_at + 3)] == '/') {
      return slash_at + 28;
    } else {
      chunk_start = marker_end + window_length;
    }
  }
}

void CheckField(const char* field, size_t width) {
  if (strnlen(field, width + 1) > width) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("korrin-fuzz", 0);
  static korrin::ScanBuffer buffer;
  if (size < 2) return 0;
  // First byte: the name's length (0 to 8), and in its high bit whether the
  // file is searched as a large one (in page-long segments from the first
  // chunk on); then the name.
  const size_t name_length = std::min<size_t>(data[0] % 9, size - 1);
  const bool large = (data[0] & 0x80) != 0;
  const korrin::ScanContext context{
      &buffer, large ? korrin::LargeFileSettings{0, 4096} : korrin::LargeFileSettings{}, nullptr};
  char name[9] = {};
  std::memcpy(name, data + 1, name_length);
  // The file: the rest, stretched so that chunk boundaries get exercised.
  std::string file(reinterpret_cast<const char*>(data + 1 + name_length), size - 1 - name_length);
  if (!file.empty() && file[0] == '+') file.insert(0, 9990, '.');
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, file.data(), file.size(), 0) != static_cast<ssize_t>(file.size())) {
    std::abort();
  }
  lseek(fd, 0, SEEK_SET);

  korrin::FileBytes bytes(fd, static_cast<int64_t>(file.size()), context);
  korrin::Window window;
  const int anchor = korrin::FindBlock(bytes, name, &window);
  std::string expected_window;
  const int expected = Model(file, name, &expected_window);
  if (anchor != expected) std::abort();
  if (anchor < 0) return 0;
  if (std::string(window.data, static_cast<size_t>(window.length)) != expected_window) {
    std::abort();
  }

  // Decode from a copy of exactly the window's bytes.
  char* exact = static_cast<char*>(std::malloc(static_cast<size_t>(window.length) + 1));
  std::memcpy(exact, window.data, static_cast<size_t>(window.length));
  korrin::GenerationConstants c;
  korrin::DecodeBlock(name, korrin::Window{exact, window.length}, anchor, &c);
  std::free(exact);
  CheckField(c.code, 6);
  CheckField(c.session, 5);
  CheckField(c.library, 3);
  CheckField(c.user, 8);
  CheckField(c.time, 8);
  CheckField(c.date, 10);
  return 0;
}
