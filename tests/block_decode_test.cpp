// SPDX-License-Identifier: MIT
#include "reader/block_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace korrin {
namespace {

struct Decoded {
  std::string session, library, code, user, time, date;
  bool operator==(const Decoded&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Decoded& d) {
  return os << '[' << d.session << '|' << d.library << '|' << d.code << '|' << d.user << '|'
            << d.time << '|' << d.date << ']';
}

Decoded Fields(const GenerationConstants& c) {
  return {c.session, c.library, c.code, c.user, c.time, c.date};
}

// Decodes `window` (the bytes after a marker) at `anchor` for `name`.
Decoded Decode(const std::string& window, int anchor, const char* name) {
  GenerationConstants constants;
  DecodeBlock(name, Window{window.data(), static_cast<int>(window.size())}, anchor, &constants);
  return Fields(constants);
}

const std::string kLead(30, '.');  // bytes before the block in the window

// One block of each form, with the bytes a generator writes.
const std::string kPlain = "10234ACH14/06/23A01010MARTIN  14:32:05ACH010  000314/06/2023";
const std::string kShort = "00412SYS03/02/21CRVP80ROOT    08:15:42000103/02/2021";
const std::string kAfter = "31002STK28/02/22S02200STK200  16:05:19BERNARD 000228/02/2022";
const std::string kGapped = "40017 PAY 30/11/25 PAY300 THOMAS  07:58:4400PAY300    30/11/2025";
const std::string kGappedF = "40018 PAY 01/12/25 P03310 THOMAS    9:05:300PAY310    01/12/2025";
const std::string kPlainG = "50550GEN19.01.26G04400GEN400  22:10:00GEN400  000119/01/2026";

TEST(Decode, EachLayoutReadsItsForm) {
  struct Case {
    const char* what;
    std::string block;
    int anchor_in_block;
    const char* name;
    Layout layout;
    Decoded expected;
  } const cases[] = {
      {"A short form, special name",
       kShort,
       16,
       "CRVP80",
       Layout::ShortAtCode,
       {"00412", "SYS", "CRVP80", "ROOT    ", "08:15:42", "03/02/2021"}},
      {"B plain form at the name",
       kPlain,
       38,
       "ACH010",
       Layout::PlainAtName,
       {"10234", "ACH", "A01010", "MARTIN  ", "14:32:05", "14/06/2023"}},
      {"C plain form at the code",
       kPlain,
       16,
       "A01010",
       Layout::PlainAtCode,
       {"10234", "ACH", "A01010", "MARTIN  ", "14:32:05", "14/06/2023"}},
      {"D name after code",
       kAfter,
       22,
       "STK200",
       Layout::NameAfterCodeAtName,
       {"31002", "STK", "S02200", "BERNARD ", "16:05:19", "28/02/2022"}},
      {"E gapped at the code",
       kGapped,
       19,
       "PAY300",
       Layout::GappedAtCode,
       {"40017", "PAY", "PAY300", "THOMAS  ", "07:58:44", "30/11/2025"}},
      {"F gapped at the name",
       kGappedF,
       44,
       "PAY310",
       Layout::GappedAtName,
       {"40018", "PAY", "P03310", "THOMAS  ", "  9:05:3", "01/12/2025"}},
      {"G plain form at the user",
       kPlainG,
       22,
       "GEN400",
       Layout::PlainAtUser,
       {"50550", "GEN", "G04400", "GEN400  ", "22:10:00", "19/01/2026"}},
  };
  for (const Case& c : cases) {
    const std::string window = kLead + c.block + "'.\n       01  WS-STATUS PIC XX.";
    const int anchor = static_cast<int>(kLead.size()) + c.anchor_in_block;
    const Window view{window.data(), static_cast<int>(window.size())};
    EXPECT_EQ(ChooseLayout(c.name, view, anchor), c.layout) << c.what;
    EXPECT_EQ(Decode(window, anchor, c.name), c.expected) << c.what;
  }
}

TEST(Decode, TestsRunInOrder) {
  // Separators placed by hand around an anchor at 50 of a window of blanks.
  struct Case {
    const char* name;
    std::initializer_list<std::pair<int, char>> bytes;
    Layout expected;
  } const cases[] = {
      {"CRVP80", {{-3, ':'}}, Layout::ShortAtCode},
      {"CRVP82", {{-3, '/'}, {-9, '/'}}, Layout::ShortAtCode},
      {"CRVP8", {{-3, ':'}}, Layout::PlainAtName},    // one character less: not special
      {"CRVP800", {{-3, ':'}}, Layout::PlainAtName},  // one more
      {"crvp80", {{-3, ':'}}, Layout::PlainAtName},   // compared as upper-cased by the search
      {"X", {{-3, ':'}, {-9, '/'}}, Layout::PlainAtName},
      {"X", {{-3, '/'}, {-4, ':'}}, Layout::PlainAtCode},
      {"X", {{-9, '/'}, {-4, '/'}}, Layout::NameAfterCodeAtName},
      {"X", {{-4, '/'}}, Layout::GappedAtCode},
      {"X", {{-4, ':'}, {-9, ':'}}, Layout::GappedAtName},
      {"X", {{-9, ':'}, {-3, '.'}, {3, '/'}}, Layout::PlainAtUser},
      {"X", {}, Layout::PlainAtUser},
  };
  for (const Case& c : cases) {
    std::string window(100, ' ');
    for (const auto& [offset, byte] : c.bytes) window.at(50 + static_cast<size_t>(offset)) = byte;
    EXPECT_EQ(ChooseLayout(c.name, Window{window.data(), 100}, 50), c.expected) << c.name;
  }
}

TEST(Decode, FieldsKeepBlanksAndEndAtNul) {
  std::string block = kPlain;
  block.replace(0, 5, "1234 ");  // a session that ends in a blank keeps it
  block[18] = '\0';              // code "A0" then NUL
  block[55] = '\0';              // date "14/06", NUL, "2023"
  const std::string window = kLead + block;
  GenerationConstants c;
  for (char* field : {c.session, c.code, c.user, c.date}) std::memset(field, 'x', 5);
  DecodeBlock("A0", Window{window.data(), static_cast<int>(window.size())},
              static_cast<int>(kLead.size()) + 16, &c);
  EXPECT_EQ(std::string(c.session, sizeof c.session), std::string("1234 \0", 6));
  EXPECT_EQ(std::string(c.code, sizeof c.code), std::string("A0\0\0\0\0\0", 7));
  EXPECT_EQ(std::string(c.user, sizeof c.user), std::string("MARTIN  \0", 9));
  // The bytes after the NUL are not copied: put year-first, the date is empty.
  EXPECT_EQ(std::string(c.date, sizeof c.date), std::string("14/06\0\0\0\0\0\0", 11));
}

TEST(Decode, NothingOutsideTheWindowIsRead) {
  // The block starts at the window's first byte and is cut after 40 bytes,
  // so the anchor's neighbourhood runs off both ends.
  std::string storage = kPlain;
  storage += std::string(100, 'X');  // bytes behind the window's end: never read
  const Window cut{storage.data(), 40};
  GenerationConstants c;
  DecodeBlock("ACH010", cut, 38, &c);  // layout B: ':' at 35
  EXPECT_STREQ(c.session, "10234");
  EXPECT_STREQ(c.time, "14:32:05");
  EXPECT_STREQ(c.date, "");            // starts at 50, past the end
  DecodeBlock("ACH010", cut, 16, &c);  // layout C: user 22..29, time 30..37, date 50
  EXPECT_STREQ(c.user, "MARTIN  ");
  EXPECT_STREQ(c.time, "14:32:05");
  // Anchor 5: the session would start at -11: absent, so empty.
  const std::string window = "AB/DEFGHIJKLMNOPQRSTUVWXYZ";
  DecodeBlock("X", Window{window.data(), static_cast<int>(window.size())}, 5, &c);  // layout C
  EXPECT_STREQ(c.session, "");
  EXPECT_STREQ(c.code, "FGHIJK");
  EXPECT_STREQ(c.user, "LMNOPQRS");
  EXPECT_STREQ(c.time, "TUVWXYZ");  // cut at the window's end
  // An anchor far past the window (the slash fallback) reads nothing.
  DecodeBlock("X", Window{window.data(), 3}, 227, &c);
  EXPECT_STREQ(c.session, "");
  EXPECT_STREQ(c.date, "");
}

}  // namespace
}  // namespace korrin
