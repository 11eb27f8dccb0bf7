// The line reader of objects: pieces of at most kMaxObjectLine bytes, and
// a carriage return dropped only right before a line feed. What pass 0
// and pass 1 make of the lines is pinned end to end.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "object_reader.h"
#include "source_text.h"

namespace zeld {
namespace {

using Pieces = std::vector<std::pair<std::string, bool>>;  // text, ended by a line feed

Pieces split(const std::string& text, std::size_t max = kMaxObjectLine) {
  Pieces out;
  LineSplitter lines(text, max);
  std::string_view line;
  bool newline = false;
  while (lines.next(line, newline)) out.emplace_back(std::string(line), newline);
  EXPECT_FALSE(lines.next(line, newline));  // the end stays the end
  return out;
}

// The same pieces, read a byte at a time.
Pieces split_bytewise(const std::string& text, std::size_t max = kMaxObjectLine) {
  Pieces want;
  for (std::size_t i = 0; i < text.size();) {
    std::string piece;
    bool newline = false;
    while (piece.size() < max && i < text.size() && !newline) {
      char c = text[i++];
      if (c == '\r' && i < text.size() && text[i] == '\n') c = text[i++];
      if (c == '\n') newline = true;
      else piece.push_back(c);
    }
    want.emplace_back(piece, newline);
  }
  return want;
}

TEST(LineSplitter, PiecesAndLineEnds) {
  const std::string full(kMaxObjectLine, 'y');
  EXPECT_EQ(split(full + "x\r\nnext"), (Pieces{{full, false}, {"x", true}, {"next", false}}));
  EXPECT_EQ(split(full + "\r\n"), (Pieces{{full, false}, {"", true}}));  // fits exactly, then an empty piece
  EXPECT_EQ(split("a\r\nb\rc\r\r\n\r"), (Pieces{{"a", true}, {"b\rc\r", true}, {"\r", false}}));
}

// Against a byte-at-a-time reading of lines around the piece limit, ended
// by LF, CR LF, a lone CR, CR CR LF or nothing, with NULs inside.
TEST(LineSplitter, PiecesMatchAByteAtATimeReading) {
  std::string text;
  unsigned seed = 12345;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  const char* endings[] = {"\n", "\r\n", "\r", "", "\r\r\n"};
  while (text.size() < 300'000) {
    std::size_t length = next(2) ? next(40) : kMaxObjectLine - 3 + next(6);
    for (std::size_t i = 0; i < length; ++i) text.push_back(next(50) ? static_cast<char>('a' + next(26)) : '\0');
    text += endings[next(5)];
  }
  EXPECT_EQ(split(text), split_bytewise(text));
}

// Line feeds are looked for 64 bytes at a time (the last bytes of a text
// one at a time): lines and limits on either side of a block's edge, and
// texts that end inside or right at one.
TEST(LineSplitter, LineFeedsAtTheEdgesOfTheSearchBlocks) {
  for (std::size_t max : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, kUnlimitedLine})
    for (std::size_t length : {0, 1, 62, 63, 64, 65, 127, 128, 129, 300})
      for (const char* ending : {"\n", "\r\n", ""}) {
        std::string text;
        for (char c : {'a', 'b', 'c'}) text += std::string(length, c) + ending;
        for (std::size_t cut = text.size() + 2; cut-- > text.size() - 3;) {
          const std::string part = text.substr(0, cut);
          ASSERT_EQ(split(part, max), split_bytewise(part, max)) << max << " " << length << " " << cut;
        }
      }
}

// ---- T, R and P lines ------------------------------------------------------

// The records pass 0 parses from `text` (radix 16), as text.
std::vector<std::string> records_of(const std::string& text) {
  PreparedText prepared;
  prepare_object_text(text, 16, ModuleFormat{}, prepared);
  std::vector<std::string> out;
  RecordStream::Cursor cursor(prepared.records);
  for (RecordEntry e; cursor.next(e);) {
    std::string s = std::to_string(static_cast<int>(e.kind)) + "@" + std::to_string(e.line) + ":";
    if (e.kind == RecordKind::kText) {
      s += " status " + std::to_string(e.text.status);
      for (int i = 0; i < e.text.count; ++i) s += " " + std::to_string(e.text.values[static_cast<std::size_t>(i)]);
    } else if (e.kind == RecordKind::kRelocation || e.kind == RecordKind::kPaging) {
      const FieldLine& f = e.fields;
      s += (f.zero_pair_ok ? " ok " : " not-ok ") + std::to_string(f.area_b1) + "," + std::to_string(f.area_b2);
      for (const FieldItem& i : f.items)
        s += " [" + std::to_string(i.mode) + " " + std::to_string(i.position) + " " + std::to_string(i.index_b1) + " " +
             std::to_string(i.index_b2) + "]";
      if (f.stopped_at_non_number) s += " stopped";
    } else {
      continue;
    }
    out.push_back(s);
  }
  return out;
}

// A line ended by a line feed is read without tests for its end; the same
// line at the end of the text (no line feed, so it keeps the number of the
// line before) is read with them.
TEST(ObjectRecords, ALineReadsAlikeWithOrWithoutItsLineFeed) {
  const std::pair<std::string, std::string> cases[] = {
      {"T 00 10 0FFFFFFFF1", "6@1: status 0 0 16 4294967281"},     // wraps at 32 bits
      {"T 1 2 3 4 5 6 7 8 9 A B C D E F 10 11", "6@1: status 2"},  // a 17th value
      {"T 00 10\v01", "6@1: status 1"},                            // a vertical tab is no blank
      {std::string("T 00 10 AB\0 CD", 14), "6@1: status 0 0 16 171"},
      {"R 05 00 01 00 02 03 00 04", "7@1: not-ok 0,1 [0 2 3 0] [4 0 0 0]"},  // one number after a non-zero
      {"R 00 00 01 00 02 x", "7@1: ok 1,0 [2 0 0 0] stopped"},
      {"R 00 00 01 00 02 03 00 04 ; 05", "7@1: ok 1,0 [2 3 0 4]"},
      {"P\t00 00 02 00 0A 0B 00 0C  ", "8@1: ok 2,0 [10 11 0 12]"},
  };
  for (const auto& [line, want] : cases) {
    EXPECT_EQ(records_of(line + "\n"), std::vector<std::string>{want}) << line;
    EXPECT_EQ(records_of(line + "\r\n"), std::vector<std::string>{want}) << line;
    EXPECT_EQ(records_of("\n" + line), std::vector<std::string>{want}) << line;
  }
}

// A line of 1022 characters is one line; at 1023 it is a piece that fills
// the limit (an empty line follows); one more and the piece ends inside a
// number, which takes only the digits of the piece (the second piece, "B",
// is no record).
TEST(ObjectRecords, LinesAtTheLengthLimit) {
  auto padded = [](std::string head, std::size_t length) { return head + std::string(length - head.size() - 2, ' ') + "AB"; };
  for (const char* ending : {"\n", "\r\n"}) {
    EXPECT_EQ(records_of(padded("T 00 10", kMaxObjectLine - 1) + ending), std::vector<std::string>{"6@1: status 0 0 16 171"});
    EXPECT_EQ(records_of(padded("T 00 10", kMaxObjectLine) + ending), std::vector<std::string>{"6@0: status 0 0 16 171"});
    EXPECT_EQ(records_of(padded("R 00 00 01 00 02 03 00", kMaxObjectLine + 1) + ending),
              std::vector<std::string>{"7@0: ok 1,0 [2 3 0 10]"});
  }
}

}  // namespace
}  // namespace zeld
