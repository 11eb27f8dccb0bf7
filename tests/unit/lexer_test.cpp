// The lexer's reads: classes, names with their cap, numbers per radix.
#include "lexer.h"

#include <gtest/gtest.h>

#include <string>

namespace zeld {
namespace {

TEST(Lexer, CharacterClasses) {
  EXPECT_EQ(char_class('$'), CC_LETTER);
  EXPECT_EQ(char_class('_') & CC_LETTER, CC_LETTER);
  EXPECT_EQ(char_class('7'), CC_DIGIT | CC_OCTAL | CC_DECIMAL | CC_HEX);
  EXPECT_EQ(char_class('1'), CC_DIGIT | CC_BINARY | CC_OCTAL | CC_DECIMAL | CC_HEX);
  EXPECT_EQ(char_class('f'), CC_LETTER | CC_HEX);
  EXPECT_EQ(char_class('|'), CC_OPERATOR);
  for (int c : {int{' '}, int{'\t'}, int{'('}, int{'#'}, int{'~'}, int{'='}, int{':'}, 0, 127, 200, -1}) EXPECT_EQ(char_class(c), 0) << c;
}

TEST(Lexer, DigitValues) {
  EXPECT_EQ(digit_value('1', 2), 1);
  EXPECT_EQ(digit_value('2', 2), -1);
  EXPECT_EQ(digit_value('7', 8), 7);
  EXPECT_EQ(digit_value('8', 8), -1);
  EXPECT_EQ(digit_value('a', 16), 10);
  EXPECT_EQ(digit_value('F', 16), 15);
  EXPECT_EQ(digit_value('g', 16), -1);
  EXPECT_EQ(digit_value('5', 7), -1);
}

TEST(Lexer, NumbersFollowTheRadixAndWrap) {
  Lexer lex;
  lex.radix = 16;
  lex.reset("  1aF zz");
  EXPECT_EQ(lex.read_number(), 0x1AFu);
  EXPECT_EQ(lex.read_number(), 0u);  // no digit
  EXPECT_EQ(lex.get_char(), 'z');
  lex.reset("1FFFFFFFF");
  EXPECT_EQ(lex.read_number(), 0xFFFFFFFFu);
  lex.radix = 8;
  lex.reset("178");
  EXPECT_EQ(lex.read_number(), 15u);
  EXPECT_EQ(lex.get_char(), '8');
  lex.radix = 10;
  lex.reset("12 0");
  EXPECT_EQ(lex.read_number(), 12u);
  EXPECT_EQ(lex.read_number(), 0u);
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
  lex.reset("   ");
  EXPECT_EQ(lex.get_identifier(), "");
}

TEST(Lexer, SkipWordAndRecordLetters) {
  Lexer lex;
  lex.radix = 16;
  lex.reset("2 areas 3 global");
  EXPECT_EQ(lex.read_number(), 2u);
  lex.skip_word(-1);
  EXPECT_EQ(lex.read_number(), 3u);
  lex.reset(" \t H 1");
  EXPECT_EQ(lex.record_letter(), 'H');
  lex.reset("  ; comment");
  EXPECT_EQ(lex.record_letter(), 0);
  lex.reset("  ; comment");
  EXPECT_FALSE(lex.more_on_line());
  lex.reset("");
  EXPECT_EQ(lex.record_letter(), 0);
  lex.reset(" 5");
  EXPECT_TRUE(lex.more_on_line());
  EXPECT_EQ(lex.read_number(), 5u);
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
