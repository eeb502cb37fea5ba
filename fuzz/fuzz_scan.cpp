// SPDX-License-Identifier: MIT
// The block search and the decoder over arbitrary file bytes and an
// arbitrary external name, through the scanner the program runs, checked
// against the literal model of the scan (tests/scan_model.h). The decoder gets a window of
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
#include "scan_model.h"

namespace {

// Each constant holds at most its width, then NULs.
void CheckConstants(const korrin::GenerationConstants& constants) {
  for (int k = 0; k < korrin::kConstantCount; ++k) {
    const auto constant = static_cast<korrin::Constant>(k);
    const auto width = static_cast<size_t>(korrin::WidthOf(constant));
    if (strnlen(constants.Text(constant), width + 1) > width) std::abort();
  }
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
  const korrin_model::Found expected = korrin_model::Scan(file, name);
  if (anchor != expected.anchor) std::abort();
  if (anchor < 0) return 0;
  if (std::string(window.data, static_cast<size_t>(window.length)) != expected.window) {
    std::abort();
  }

  // Decode from a copy of exactly the window's bytes.
  char* exact = static_cast<char*>(std::malloc(static_cast<size_t>(window.length) + 1));
  std::memcpy(exact, window.data, static_cast<size_t>(window.length));
  korrin::GenerationConstants c;
  korrin::DecodeBlock(name, korrin::Window{exact, window.length}, anchor, &c);
  std::free(exact);
  CheckConstants(c);
  return 0;
}
