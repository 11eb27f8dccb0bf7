// The lexer's reads: characters outside the class table, digits per radix,
// numbers and their wrap, names with their cap, and a cursor that never
// leaves its line (its end, a ';' or a NUL).
#include "lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace zeld {
namespace {

TEST(Lexer, CharactersAndDigits) {
  for (int c : {0, 127, 200, -1}) EXPECT_EQ(char_class(c), 0) << c;
  const std::tuple<int, int, int> digits[] = {{'f', 16, 15}, {'F', 16, 15}, {'g', 16, -1}, {'a', 10, -1}, {'9', 8, -1},
                                              {'1', 2, 1},   {'2', 2, -1},  {'5', 7, -1},  {-1, 16, -1}, {0, 16, -1},
                                              {0xB0, 16, -1}, {0x130, 16, -1}};
  for (const auto& [c, radix, value] : digits) EXPECT_EQ(digit_value(c, radix), value) << c << " " << radix;
}

TEST(Lexer, NumbersFollowTheRadixWrapAndStopAtANul) {
  Lexer lex;
  lex.reset("\t 12a");
  EXPECT_EQ(lex.read_number(), 12u);
  EXPECT_EQ(lex.get_char(), 'a');
  lex.radix = 16;
  lex.reset("1FFFFFFFF zz");
  EXPECT_EQ(lex.read_number(), 0xFFFFFFFFu);
  EXPECT_EQ(lex.read_number(), 0u);  // no digit
  EXPECT_EQ(lex.get_char(), 'z');
  const std::string with_nul("aB\0" "5", 4);
  lex.reset(with_nul);
  EXPECT_EQ(lex.read_number(), 0xABu);
  EXPECT_EQ(lex.read_number(), 0u);  // a NUL ends the text for every read
  EXPECT_EQ(lex.get_char(), 0);
  lex.radix = 8;
  lex.reset("178");
  EXPECT_EQ(lex.read_number(), 15u);
  EXPECT_EQ(lex.get_char(), '8');
}

TEST(Lexer, IdentifiersKeep128CharactersAndConsumeTheRest) {
  Lexer lex;
  const std::string line = "  " + std::string(130, 'n') + " 12";
  lex.reset(line);
  EXPECT_EQ(lex.get_identifier(), std::string(128, 'n'));
  EXPECT_EQ(lex.read_number(), 12u);
  lex.reset("a.b$_9+c");
  EXPECT_EQ(lex.get_identifier(), "a.b$_9");
  lex.reset("+x");
  EXPECT_EQ(lex.get_identifier(), "+x");  // the first character is taken whatever its class
}

TEST(Lexer, TheCursorStaysOnItsLine) {
  Lexer lex;
  lex.reset(" \t x");
  EXPECT_TRUE(lex.more_on_line());
  EXPECT_EQ(lex.get_char(), 'x');  // the blanks are passed, the character is not
  EXPECT_FALSE(lex.more_on_line());
  lex.unget_char(0);  // at the end: stays there
  EXPECT_EQ(lex.get_char(), 0);
  lex.reset("  ; comment");
  EXPECT_FALSE(lex.more_on_line());
  EXPECT_EQ(lex.record_letter(), 0);
  const std::string with_nul(" ab\0x", 5);
  lex.reset(with_nul);
  lex.unget_char('x');  // nothing read yet: stays at the start
  EXPECT_EQ(lex.get_identifier(), "ab");
  EXPECT_FALSE(lex.more_on_line());
  EXPECT_EQ(lex.get_nonblank(), 0);
  EXPECT_EQ(lex.get_char(), 0);
}

// A line known to be followed by its line feed is read without tests for
// its end: any mix of reads gives the values, kinds and places of the
// reads over the bare line.
TEST(Lexer, ReadsBeforeALineFeedMatchReadsThatTestTheEnd) {
  const char alphabet[] = {'0', '1', '7', '9', 'a', 'F', 'g', ' ', '\t', ';', '\0', '\v', '\r', 'x'};
  unsigned seed = 777;
  auto next = [&seed](unsigned n) { return ((seed = seed * 1103515245u + 12345u) >> 16) % n; };
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (unsigned i = next(14); i > 0; --i) text.push_back(alphabet[next(sizeof alphabet)]);
    const std::size_t size = text.size();
    text += next(2) ? "\n" : "\r\n";
    const char* end = text.data() + size;
    const unsigned bound = lexer_detail::digit_bound(next(2) ? 16 : next(2) ? 10 : 8);
    lexer_detail::FieldScanner<false> bare(text.data(), end, bound);
    lexer_detail::FieldScanner<true> ended(text.data(), end, bound);
    for (int read = 0; read < 8; ++read) {
      u32 a = 1, b = 1;
      if (next(2))
        ASSERT_EQ(bare.field(a), ended.field(b)) << text;
      else
        ASSERT_EQ(bare.number(), ended.number()) << text;
      ASSERT_EQ(a, b) << text;
      ASSERT_EQ(bare.place(), ended.place()) << text;
      ASSERT_LE(bare.place(), end);
    }
  }
}

}  // namespace
}  // namespace zeld
