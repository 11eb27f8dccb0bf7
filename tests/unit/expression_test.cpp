// Expression evaluator and -d definitions: values, where the cursor is
// left after an expression and after a report, division by zero, the
// nesting limit, and the definitions' rules that the end-to-end cases do
// not show.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "context.h"
#include "expression.h"
#include "symbols.h"
#include "test_support.h"

namespace zeld {
namespace {

class ExpressionTest : public LinkTest {
 protected:
  u32 eval(const std::string& text) {
    text_ = text;
    ctx.lex.reset(text_);
    ReportPlace place;
    return evaluate_expression(ctx, place, 0);
  }
  Symbol* define(const std::string& name, u32 value, u16 flags, const char* area = nullptr) {
    Symbol* s = lookup_symbol(ctx, name, true);
    s->flags = flags;
    s->value = value;
    if (area) {
      bool created = false;
      s->area_part = ctx.areas.add_part(area, nullptr, created);
      s->area_part->address = 0x2000;
    }
    return s;
  }

  std::string text_;
};

const std::string kInvalid = "!E (command input(0): {linker} invalid expression\n";

TEST_F(ExpressionTest, Values) {
  define("ABS", 0x1234, SYM_DEFINED | SYM_ABSOLUTE);
  define("rel", 0x10, SYM_DEFINED, "data");
  const std::pair<const char*, u32> cases[] = {
      // precedence and left grouping
      {"2+3*4", 14}, {"(2+3)*4", 20}, {"10-2-3", 5}, {"1<<4|1", 17}, {"0x10>>2", 4}, {"100/7%4", 2},
      {"6^3&5", 5}, {"1|6&3", 3}, {"\t2 *\t3", 6}, {"1<<33", 2}, {"0xFFFFFFFF+2", 1}, {"3-5", 0xFFFFFFFE},
      // prefix operators take one term
      {"-2+3", 1}, {"~0", 0xFFFFFFFF}, {"--5", 5}, {">0x1234", 0x12}, {"<0x1234", 0x34}, {">0x1234+1", 0x13},
      {"#5+#(1)", 6},
      // numbers: a leading 0 is not octal
      {"010", 10}, {"0o10", 8}, {"0Q10", 8}, {"0@10", 8}, {"0b101", 5}, {"0h1F", 31}, {"0X1f", 31},
      {"0d99", 99}, {"0x", 0}, {"4294967297", 1},
      // character constants
      {"'A", 65}, {"'\\n", 10}, {"'\\101", 65}, {"''", 39}, {"'\\377", 0xFFFFFFFF}, {"'\\b", 8},
      {"'\\f", 12}, {"'\\r", 13}, {"'\\t", 9}, {"'\\\\", '\\'}, {"'\\'", '\''}, {"'\\q", 'q'},
      {"'\\1018", 65}, {"'\xe9", 0xFFFFFFE9}, {"'\\", '\\'},
      // names; empty and foreign terms are 0
      {"ABS+1", 0x1235}, {"rel-ABS", 0x2010 - 0x1234}, {"", 0}, {"@", 0}, {"1+", 1},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(eval(text), value) << text;
  ctx.lex.high_byte_first = true;
  EXPECT_EQ(eval("\"AB"), 0x4142u);
  ctx.lex.high_byte_first = false;
  EXPECT_EQ(eval("\"AB"), 0x4241u);
  EXPECT_EQ(eval("\"A"), 0xFF41u);  // the missing character is -1
  EXPECT_EQ(err(), "");
}

TEST_F(ExpressionTest, TheCursorStopsAfterTheExpressionOrTheReport) {
  const std::tuple<const char*, u32, const char*> cases[] = {
      {"0x10.0x20", 0x10, ".0x20"}, {"0b102", 2, "2"}, {"7 :x", 7, ":x"}, {"1+2 )", 3, ")"}, {"'A'", 65, "'"},
      {"(1+2 . 5", 3, ". 5"},       {"nope+1", 1, ""}, {"7/(1-1)*3+2", 2, ""}};  // 0 for x/0, read on
  for (const auto& [text, value, rest] : cases) {
    EXPECT_EQ(eval(text), value) << text;
    EXPECT_EQ(ctx.lex.rest(), rest) << text;
  }
  EXPECT_EQ(lookup_symbol(ctx, "nope", false), nullptr);  // an unknown name is not entered
  EXPECT_EQ(err(),
            "!E (command input)(0): {linker} missing delimiter\n"
            "!E (command input(0): {linker} undefined symbol 'nope'\n" + kInvalid);
}

TEST_F(ExpressionTest, DeepNestingIsReportedOnceWithoutExhaustingTheStack) {
  for (const char c : {'(', '-', '~', '<'}) eval(std::string(200000, c) + "1");
  EXPECT_EQ(err(), kInvalid + kInvalid + kInvalid + kInvalid);
  EXPECT_EQ(eval(std::string(200, '(') + "1" + std::string(200, ')')), 1u);
  EXPECT_EQ(err(), "");
}

TEST_F(ExpressionTest, GlobalDefinitions) {
  Symbol* ref = define("_limit", 0, SYM_REFERENCED);
  Symbol* main = define("main", 2, SYM_DEFINED, "text");
  for (const char* t : {"EMPTY=", "MASK=~0&0xFF00 ignored", "_limit = MASK+1", "main=5"}) add_global_definition(ctx, t);
  apply_global_definitions(ctx);
  EXPECT_EQ(err(), "!ERROR {linker} redefinition of symbol 'main'\n");
  const std::pair<const char*, u32> values[] = {{"EMPTY", 0}, {"MASK", 0xFF00}, {"_limit", 0xFF01}, {"main", 5}};
  for (const auto& [name, value] : values) {
    u32 address = 0xDEADBEEF;
    EXPECT_TRUE(find_symbol_address(ctx, name, address)) << name;
    EXPECT_EQ(address, value) << name;
  }
  EXPECT_EQ(ref->flags, SYM_REFERENCED | SYM_DEFINED | SYM_ABSOLUTE);
  EXPECT_EQ(main->flags, SYM_DEFINED | SYM_ABSOLUTE);  // a module symbol redefined becomes absolute
  EXPECT_EQ(main->area_part, nullptr);
  EXPECT_FALSE(ctx.symbols.applying_global_definitions);
}

}  // namespace
}  // namespace zeld
