// Symbol table: references against definitions, malformed S lines, names at
// the length limit, near-miss markers and hidden symbols, the area part
// given to symbols that have none, the module an undefined symbol is
// blamed on, the two walk orders, and symbols that keep their place and
// name while the table grows. Conflicts, the undefined-symbol messages, the
// table limits and the markers are pinned end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context.h"
#include "symbols.h"
#include "test_support.h"

namespace zeld {
namespace {

class SymbolsTest : public LinkTest {
 protected:
  SymbolsTest() { ctx.lex.radix = 16; }

  Header& add_header(const std::string& name, u32 capacity = 32) {
    Header& h = ctx.reader.headers.emplace_back();
    h.index = ctx.reader.headers.size() - 1;
    h.name = name;
    h.symbol_capacity = capacity;
    return h;
  }
  AreaPart* add_part(const std::string& area, Header& h) {
    bool created = false;
    return ctx.areas.add_part(area, &h, created);
  }
  // Runs the S handler on the text after the record letter.
  Symbol* define(const std::string& rest, Header* h, AreaPart* part = nullptr) {
    line_ = rest;
    ctx.lex.reset(line_);
    return define_symbol(ctx, ctx.lex, h, part);
  }

  std::string line_;
};

TEST_F(SymbolsTest, ReferencesNeverAlterADefinition) {
  Header& h = add_header("m.c");
  define(" f Def0012", &h, add_part("text", h));
  Symbol* f = define(" f Ref0000", &h);
  EXPECT_EQ(f->flags, SYM_DEFINED | SYM_REFERENCED);
  EXPECT_EQ(f->value, 0x12u);
  define(" g Ref0001", &h);
  EXPECT_EQ(err(), "!ERROR {linker} non zero S_REF\n");
  EXPECT_EQ(h.symbols, (std::vector<Symbol*>{f, f, lookup_symbol(ctx, "g", false)}));
}

TEST_F(SymbolsTest, FatalLines) {
  Header& h = add_header("m.c");
  EXPECT_THROW(define(" foo Xyz0", &h), LinkAbort);
  EXPECT_THROW(define(" bar", &h), LinkAbort);  // the missing kind shows as a blank
  EXPECT_THROW(define(" a Ref0", nullptr), LinkAbort);
  EXPECT_THROW(define(" c Ref0", &add_header("n.c", 0)), LinkAbort);
  EXPECT_EQ(err(),
            "!E {linker} invalid symbol type X for 'foo'\n!E {linker} invalid symbol type   for 'bar'\n"
            "!E {linker} no header defined\n!E {linker} header symbol list overflow\n");
}

TEST_F(SymbolsTest, NamesAreCutTo128Characters) {
  Header& h = add_header("m.c");
  define(" " + std::string(127, 'a') + " Ref0", &h);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(define(" " + std::string(130, 'b') + " Ref0", &h)->name, std::string(128, 'b'));  // as the lexer keeps it
  EXPECT_EQ(err(), "!ERROR {linker} Symbol \"" + std::string(128, 'b') + "\" name too long\n");
  Symbol* direct = lookup_symbol(ctx, std::string(130, 'd'), true);
  EXPECT_EQ(direct->name, std::string(128, 'd'));
  EXPECT_EQ(err(), "!ERROR {linker} Symbol \"" + std::string(130, 'd') + "\" name too long\n");
  EXPECT_EQ(lookup_symbol(ctx, std::string(131, 'd'), true), direct);  // no second entry
  std::string made = "__" + std::string(130, 'x') + "_end";  // the linker's own names are not cut
  Symbol* end = lookup_linker_symbol(ctx, made);
  EXPECT_EQ(lookup_symbol(ctx, made, false), end);
}

TEST_F(SymbolsTest, MarkersAndHiddenSymbols) {
  Header& h = add_header("m.c");
  AreaPart* text = add_part("text", h);
  EXPECT_EQ(define(" $cb Def0", &h, text)->flags & SYM_MARKERS, 0);  // markers themselves are pinned end to end
  EXPECT_EQ(define(" $cbx1 Def0", &h, text)->flags & SYM_MARKERS, 0);
  EXPECT_EQ(define(" $cb$2 Eq 0", &h)->flags & SYM_MARKERS, 0);
  const std::tuple<const char*, const char*, bool> hidden[] = {
      {"TEXT", "Dxf", true}, {"usermodules", "Dxf", true}, {"data", "Dxf", false}, {"text", "DXf", false}};
  int n = 0;
  for (const auto& [area, kind, expect] : hidden) {
    Symbol* s = define(" h" + std::to_string(n++) + " " + kind + "0", &h, add_part(area, h));
    EXPECT_EQ((s->flags & SYM_HIDDEN) != 0, expect) << area << " " << kind;
  }
}

TEST_F(SymbolsTest, BaselessSymbolsGetTheFirstPartOfTheFirstArea) {
  Header& h = add_header("m.c");
  AreaPart* first = add_part("text", h);
  Symbol* e = define(" e Eq 5", &h);
  Symbol* lone = lookup_symbol(ctx, "lone", true);  // in no module: not reported
  report_undefined_symbols(ctx);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(e->area_part, nullptr);  // absolute
  EXPECT_EQ(lone->area_part, first);
}

TEST_F(SymbolsTest, AnUndefinedSymbolBlamesTheFirstModuleThatListsIt) {
  Header& a = add_header("a.c");
  define(" _y Def0", &a, add_part("text", a));
  define(" _x Ref0", &a);
  Header& b = add_header("b.c");
  define(" _z Ref0", &b);
  define(" _x Ref0", &b);
  define(" _y Ref0", &b);
  report_undefined_symbols(ctx);
  EXPECT_EQ(err(),
            "!ERROR {linker} file 'a.o': undefined symbol '_x'\n!ERROR {linker} file 'b.o': undefined symbol '_z'\n");
}

std::vector<std::string> walk(const SymbolTable& table, bool entered) {
  std::vector<std::string> names;
  auto add = [&](const Symbol& s) { names.emplace_back(s.name); };
  entered ? table.for_each_entered(add) : table.for_each(add);
  return names;
}

TEST_F(SymbolsTest, BucketsByCharacterSumAscendingNewestFirst) {
  // Buckets: "A" 65; "B" and "!!" 66; "c" 99 and "zzzzz" 610 & 511 = 99;
  // "ab" and "ba" 195; a byte above 0x7F counts negative: -1 & 511 = 511.
  const std::vector<std::string> entered = {"B", "c", "\xFF", "ab", "A", "!!", "zzzzz", "ba"};
  for (const std::string& name : entered) lookup_symbol(ctx, name, true);
  EXPECT_EQ(walk(ctx.symbols, false), (std::vector<std::string>{"A", "!!", "B", "zzzzz", "c", "ba", "ab", "\xFF"}));
  EXPECT_EQ(walk(ctx.symbols, true), entered);
}

TEST_F(SymbolsTest, SymbolsKeepTheirAddressAndNameWhileTheTableGrows) {
  std::vector<Symbol*> made;
  for (int i = 0; i < 5000; ++i) {
    std::string name = "_f" + std::to_string(i);  // gone after the call: the table keeps its own copy
    made.push_back(lookup_symbol(ctx, name, true));
  }
  ASSERT_EQ(ctx.symbols.size(), 5000u);
  for (int i = 0; i < 5000; ++i) {
    ASSERT_EQ(lookup_symbol(ctx, "_f" + std::to_string(i), false), made[i]) << i;
    ASSERT_EQ(made[i]->name, "_f" + std::to_string(i));
  }
  EXPECT_EQ(lookup_symbol(ctx, "_f5000", false), nullptr);
  EXPECT_EQ(walk(ctx.symbols, true).back(), "_f4999");
}

}  // namespace
}  // namespace zeld
