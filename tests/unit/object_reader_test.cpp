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

Pieces split(const std::string& text) {
  Pieces out;
  LineSplitter lines(text, kMaxObjectLine);
  std::string_view line;
  bool newline = false;
  while (lines.next(line, newline)) out.emplace_back(std::string(line), newline);
  EXPECT_FALSE(lines.next(line, newline));  // the end stays the end
  return out;
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
  Pieces want;
  for (std::size_t i = 0; i < text.size();) {
    std::string piece;
    bool newline = false;
    while (piece.size() < kMaxObjectLine && i < text.size() && !newline) {
      char c = text[i++];
      if (c == '\r' && i < text.size() && text[i] == '\n') c = text[i++];
      if (c == '\n') newline = true;
      else piece.push_back(c);
    }
    want.emplace_back(piece, newline);
  }
  EXPECT_EQ(split(text), want);
}

}  // namespace
}  // namespace zeld
