// SPDX-License-Identifier: MIT
#include "reader/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "reader/pattern_search.h"

namespace korrin {
namespace {

TEST(UpperCase, UpperCasesOnlyAsciiLetters) {
  std::string text = "pgm001-az.\xe9\xff{`";
  UpperCase(text.data());
  EXPECT_EQ(text, "PGM001-AZ.\xe9\xff{`");
  char stops[] = {'a', '\0', 'b', '\0'};
  UpperCase(stops);
  EXPECT_EQ(stops[0], 'A');
  EXPECT_EQ(stops[2], 'b');  // past the NUL
}

// Every way of searching this processor can run, not only the one chosen,
// against the C++ library's search, forwards and backwards, for the marker
// and for patterns of every length a name may have.
TEST(FindPattern, EveryFinderAgreesAtEveryLengthAndPlace) {
  std::vector<const PatternFinder*> finders;
  for (int k = 0; k < kPatternFinderCount; ++k) {
    if (kPatternFinders[k].available()) finders.push_back(&kPatternFinders[k]);
  }
  std::mt19937 rng(7);
  // Rich in the marker's letters, poor in its K (long memchr runs), and with
  // the neighbours of its first and last letters, V and F, which a
  // word-at-a-time filter can take for them.
  for (const std::string alphabet : {"WORKINGWG.", "WORINGWG.............", "WORKINGVF.VF"}) {
    for (int round = 0; round < 10000; ++round) {
      const int count = static_cast<int>(rng() % (round % 10 == 0 ? 3000 : 90));
      std::string data(static_cast<size_t>(count) + 40, 'x');  // past the count: never a match
      for (int k = 0; k < count; ++k)
        data[static_cast<size_t>(k)] = alphabet[rng() % alphabet.size()];
      if (rng() % 2 != 0 && count >= 7)
        data.replace(rng() % static_cast<unsigned>(count - 6), 7, "WORKING");
      if (rng() % 4 == 0 && count >= 4) data.replace(static_cast<size_t>(count) - 4, 7, "WORKING");
      if (rng() % 3 == 0 && count >= 9) {
        data.replace(rng() % static_cast<unsigned>(count - 8), 9,
                     rng() % 2 ? "WVORKINGF" : "VWORKINFG");
      }
      // The marker, or a piece of the alphabet as a name would be.
      std::string pattern = "WORKING";
      if (round % 2 != 0) {
        pattern.clear();
        for (size_t k = 1 + rng() % 8; k > 0; --k) pattern += alphabet[rng() % alphabet.size()];
      }
      const std::string_view held(data.data(), static_cast<size_t>(count));
      const int first = static_cast<int>(held.find(pattern));  // npos becomes -1
      const int last = static_cast<int>(held.rfind(pattern));
      const Pattern p = {pattern.data(), static_cast<int>(pattern.size())};
      for (const PatternFinder* finder : finders) {
        ASSERT_EQ(finder->find(data.data(), count, p), first)
            << finder->name << " " << pattern << " in " << held;
        ASSERT_EQ(finder->find_last(data.data(), count, p), last)
            << finder->name << " last " << pattern << " in " << held;
      }
    }
  }
}

}  // namespace
}  // namespace korrin
