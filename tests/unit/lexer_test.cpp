// The lexer's reads: characters outside the class table, names with their
// cap, numbers per radix and their wrap, and a cursor that never leaves its
// line.
#include "lexer.h"

#include <gtest/gtest.h>

#include <string>

namespace zeld {
namespace {

TEST(Lexer, CharactersOutsideTheTableHaveNoClass) {
  for (int c : {0, 127, 200, -1}) EXPECT_EQ(char_class(c), 0) << c;
  EXPECT_EQ(digit_value('5', 7), -1);  // no such radix
}

TEST(Lexer, NumbersFollowTheRadixAndWrap) {
  Lexer lex;
  lex.radix = 16;
  lex.reset("1FFFFFFFF zz");
  EXPECT_EQ(lex.read_number(), 0xFFFFFFFFu);
  EXPECT_EQ(lex.read_number(), 0u);  // no digit
  EXPECT_EQ(lex.get_char(), 'z');
  lex.radix = 8;
  lex.reset("178");
  EXPECT_EQ(lex.read_number(), 15u);
  EXPECT_EQ(lex.get_char(), '8');
}

TEST(Lexer, DigitsBelongToTheirRadixOnly) {
  EXPECT_EQ(digit_value('f', 16), 15);
  EXPECT_EQ(digit_value('F', 16), 15);
  EXPECT_EQ(digit_value('g', 16), -1);
  EXPECT_EQ(digit_value('a', 10), -1);
  EXPECT_EQ(digit_value('9', 8), -1);
  EXPECT_EQ(digit_value('1', 2), 1);
  EXPECT_EQ(digit_value('2', 2), -1);
  for (int c : {-1, 0, 0xB0, 0x130}) EXPECT_EQ(digit_value(c, 16), -1) << c;
  Lexer lex;
  lex.reset("\t 12a");
  EXPECT_EQ(lex.read_number(), 12u);
  EXPECT_EQ(lex.get_char(), 'a');
  lex.radix = 16;
  std::string with_nul("aB\0" "5", 4);
  lex.reset(with_nul);
  EXPECT_EQ(lex.read_number(), 0xABu);
  EXPECT_EQ(lex.read_number(), 0u);  // a NUL ends the text for every read
  EXPECT_EQ(lex.get_char(), 0);
}

TEST(Lexer, IdentifiersKeep128CharactersAndConsumeTheRest) {
  Lexer lex;
  std::string line = "  " + std::string(130, 'n') + " 12";
  lex.reset(line);
  EXPECT_EQ(lex.get_identifier(), std::string(128, 'n'));
  EXPECT_EQ(lex.read_number(), 12u);
  lex.reset("a.b$_9+c");
  EXPECT_EQ(lex.get_identifier(), "a.b$_9");
  EXPECT_EQ(lex.get_char(), '+');
  lex.reset("+x");
  EXPECT_EQ(lex.get_identifier(), "+x");  // the first character is taken whatever its class
}

TEST(Lexer, ALineEndsAtItsEndASemicolonOrANul) {
  Lexer lex;
  lex.reset(" \t x");
  EXPECT_TRUE(lex.more_on_line());
  EXPECT_EQ(lex.get_char(), 'x');  // the blanks are passed, the character is not
  EXPECT_FALSE(lex.more_on_line());
  lex.reset("  ; comment");
  EXPECT_FALSE(lex.more_on_line());
  EXPECT_EQ(lex.record_letter(), 0);
  std::string with_nul(" \0x", 3);
  lex.reset(with_nul);
  EXPECT_FALSE(lex.more_on_line());
  EXPECT_EQ(lex.get_nonblank(), 0);
  EXPECT_EQ(lex.get_char(), 0);
}

TEST(Lexer, PushBackNeverPassesTheStartOrTheEnd) {
  Lexer lex;
  lex.reset("a");
  lex.unget_char('x');  // nothing read yet: stays at the start
  EXPECT_EQ(lex.get_char(), 'a');
  EXPECT_EQ(lex.get_char(), 0);
  lex.unget_char(0);
  EXPECT_EQ(lex.get_char(), 0);
  std::string with_nul("ab\0cd", 5);
  lex.reset(with_nul);
  EXPECT_EQ(lex.get_identifier(), "ab");
  EXPECT_EQ(lex.get_char(), 0);
}

}  // namespace
}  // namespace zeld
