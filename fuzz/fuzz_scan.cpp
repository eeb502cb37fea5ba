// SPDX-License-Identifier: MIT
// The block search and the decoder over arbitrary file bytes and an
// arbitrary external name: the scanner as it runs, through its buffer and
// far searches, against the same scan through plain reads
// (tests/scan_model.h), and every pattern finder against the C++ library.
// The decoder gets a window of exactly its bytes, so any read outside it is
// caught.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "reader/block_decode.h"
#include "reader/file_bytes.h"
#include "reader/pattern_search.h"
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

// Every finder this processor runs finds the marker and the name where the
// C++ library does, forwards and backwards.
void CheckFinders(const std::string& file, const char* name) {
  const std::string_view bytes = file;
  const auto count = static_cast<int>(file.size());
  for (const std::string_view pattern :
       {std::string_view(korrin::kMarker), std::string_view(name)}) {
    if (pattern.empty()) continue;
    const korrin::Pattern p = {pattern.data(), static_cast<int>(pattern.size())};
    const int first = static_cast<int>(bytes.find(pattern));  // npos becomes -1
    const int last = static_cast<int>(bytes.rfind(pattern));
    for (int k = 0; k < korrin::kPatternFinderCount; ++k) {
      const korrin::PatternFinder& finder = korrin::kPatternFinders[k];
      if (finder.available() && (finder.find(file.data(), count, p) != first ||
                                 finder.find_last(file.data(), count, p) != last)) {
        std::abort();
      }
    }
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
  const korrin::LargeFileSettings settings =
      large ? korrin_test::EagerSearch() : korrin::LargeFileSettings{};
  char name[9] = {};
  std::memcpy(name, data + 1, name_length);
  // The file: the rest, stretched so that the first chunk's end ('+') or
  // the buffer's ('-') falls among its bytes.
  std::string file(reinterpret_cast<const char*>(data + 1 + name_length), size - 1 - name_length);
  if (!file.empty() && file[0] == '+') file.insert(0, 9990, '.');
  if (!file.empty() && file[0] == '-') file.insert(0, korrin::kScanBufferSize - 100, '.');
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, file.data(), file.size(), 0) != static_cast<ssize_t>(file.size())) {
    std::abort();
  }

  CheckFinders(file, name);

  const auto file_size = static_cast<int64_t>(file.size());
  const korrin_test::Found got = korrin_test::ScanAsKorrin(fd, file_size, name, settings, buffer);
  const korrin_test::Found expected = korrin_test::ScanPlainly(fd, name, buffer);
  if (got.anchor != expected.anchor || got.window != expected.window) std::abort();
  if (got.anchor < 0) return 0;

  // Decode from a copy of exactly the window's bytes.
  const auto length = static_cast<int>(got.window.size());
  char* exact = static_cast<char*>(std::malloc(got.window.size() + 1));
  std::memcpy(exact, got.window.data(), got.window.size());
  korrin::GenerationConstants c;
  korrin::DecodeBlock(name, korrin::Window{exact, length}, got.anchor, &c);
  std::free(exact);
  CheckConstants(c);
  return 0;
}
