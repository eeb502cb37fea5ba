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

namespace {

// The scan as stated, over the bytes in memory: chunks of 10000 read at
// S, a step back of 7, windows of 200 read at the end of the marker.
int Model(const std::string& file, const std::string& name, std::string* window) {
  const auto size = static_cast<int64_t>(file.size());
  auto find = [](const std::string& hay, const std::string& needle) -> int {
    if (hay.empty() || needle.size() > hay.size()) return -1;
    const size_t at = hay.find(needle);
    return at == std::string::npos ? -1 : static_cast<int>(at);
  };
  int64_t S = 0;
  for (;;) {
    const int64_t n = std::min<int64_t>(10000, size - S);
    if (n < 200) return -1;
    const int i = find(file.substr(static_cast<size_t>(S), static_cast<size_t>(n)), "WORKING");
    if (i < 0) {
      S += n - 7;
      continue;
    }
    const int64_t E = S + i + 7;
    *window = file.substr(static_cast<size_t>(E), 200);
    const int w = static_cast<int>(window->size());
    const int a = find(*window, name);
    if (a >= 0) return a;
    const int b = find(*window, "/");
    if (b < 0) {
      S = E;
    } else if (b + 3 < w && (*window)[static_cast<size_t>(b + 3)] == '/') {
      return b + 28;
    } else {
      S = E + w;
    }
  }
}

void CheckField(const char* field, size_t width) {
  if (strnlen(field, width + 1) > width) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("korrin-fuzz", 0);
  static korrin::ScanBuffers bufs;
  if (size < 2) return 0;
  // First byte: the name's length (0 to 8) and the language; then the name.
  const size_t name_len = std::min<size_t>(data[0] % 9, size - 1);
  const bool french = (data[0] & 0x80) != 0;
  std::string name(reinterpret_cast<const char*>(data + 1), name_len);
  name = name.substr(0, name.find('\0'));
  // The file: the rest, stretched so that chunk boundaries get exercised.
  std::string file(reinterpret_cast<const char*>(data + 1 + name_len), size - 1 - name_len);
  if (!file.empty() && file[0] == '+') file.insert(0, 9990, '.');
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, file.data(), file.size(), 0) != static_cast<ssize_t>(file.size())) {
    std::abort();
  }
  lseek(fd, 0, SEEK_SET);

  korrin::ProgramRef ref;
  std::memcpy(ref.ExtName, name.data(), name.size());
  korrin::Window window{nullptr, 0};
  const int anchor =
      korrin::FindBlock(fd, ref.ExtName, bufs, &window, static_cast<int64_t>(file.size()));
  std::string expected_window;
  const int expected = Model(file, ref.ExtName, &expected_window);
  if (anchor != expected) std::abort();
  if (anchor < 0) return 0;
  if (std::string(window.data, static_cast<size_t>(window.w)) != expected_window) std::abort();

  // Decode from a copy of exactly the window's bytes.
  char* exact = static_cast<char*>(std::malloc(static_cast<size_t>(window.w) + 1));
  std::memcpy(exact, window.data, static_cast<size_t>(window.w));
  korrin::LireRefCrv(ref, korrin::Window{exact, window.w}, anchor, french);
  std::free(exact);
  CheckField(ref.CrvCode, 6);
  CheckField(ref.Session, 5);
  CheckField(ref.Library, 3);
  CheckField(ref.UserCode, 8);
  CheckField(ref.GenTime, 8);
  CheckField(ref.GenDate, 10);
  return 0;
}
