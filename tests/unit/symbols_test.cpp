// Symbol table: S-line definitions and the conflicts the end-to-end cases
// do not show, malformed S lines and the table limits, names, markers,
// hidden symbols, the undefined-symbol report to the map, and the area
// part given to symbols that have none.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "context.h"
#include "test_support.h"
#include "symbols.h"

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
  AreaPart* add_part(const std::string& area, Header& h, u32 address = 0) {
    bool created = false;
    AreaPart* p = ctx.areas.add_part(area, &h, created);
    p->address = address;
    return p;
  }
  // Runs the S handler on the text after the record letter.
  Symbol* define(const std::string& rest, Header* h, AreaPart* part = nullptr) {
    line_ = rest;
    ctx.lex.reset(line_);
    return define_symbol(ctx, ctx.lex, h, part);
  }

  std::string line_;
};

TEST_F(SymbolsTest, ConflictingDefinitionsTheLaterStands) {
  Header& a = add_header("a.c");
  Header& b = add_header("b.c");
  AreaPart* pb = add_part("text", b, 0x1000);
  ctx.reader.place = ReportPlace{"b.o", 4};
  define(" one Eq 0", &a);
  define(" one Eq 1", &b);
  define(" abs Eq 4", &a);
  Symbol* abs = define(" abs Def0004", &b, pb);
  EXPECT_EQ(err(), "!E b.o(4): {linker} multiple define: 'one'\n!E b.o(4): {linker} multiple define: 'abs'\n");
  EXPECT_EQ(abs->value, 4u);
  EXPECT_EQ(abs->area_part, pb);
  EXPECT_EQ(abs->first_header, &a);
}

TEST_F(SymbolsTest, ReferencesNeverAlterADefinition) {
  Header& h = add_header("m.c");
  AreaPart* part = add_part("text", h);
  define(" f Def0012", &h, part);
  Symbol* f = define(" f Ref0000", &h);
  EXPECT_EQ(f->flags, SYM_DEFINED | SYM_REFERENCED);
  EXPECT_EQ(f->value, 0x12u);
  EXPECT_EQ(err(), "");
  define(" g Ref0001", &h);
  EXPECT_EQ(err(), "!ERROR {linker} non zero S_REF\n");
  EXPECT_EQ(h.symbols, (std::vector<Symbol*>{f, f, lookup_symbol(ctx, "g", false)}));
}

TEST_F(SymbolsTest, FatalLines) {
  Header& h = add_header("m.c", 1);
  EXPECT_THROW(define(" foo Xyz0", &h), LinkAbort);
  EXPECT_EQ(err(), "!E {linker} invalid symbol type X for 'foo'\n");
  EXPECT_THROW(define(" bar", &h), LinkAbort);  // the missing kind shows as a blank
  EXPECT_EQ(err(), "!E {linker} invalid symbol type   for 'bar'\n");
  EXPECT_THROW(define(" a Ref0", nullptr), LinkAbort);
  EXPECT_EQ(err(), "!E {linker} no header defined\n");
  define(" a Ref0", &h);
  EXPECT_THROW(define(" b Ref0", &h), LinkAbort);
  EXPECT_THROW(define(" c Ref0", &add_header("n.c", 0)), LinkAbort);
  EXPECT_EQ(err(), "!E {linker} header symbol list overflow\n!E {linker} header symbol list overflow\n");
}

TEST_F(SymbolsTest, Names) {
  Header& h = add_header("m.c");
  define(" " + std::string(127, 'a') + " Ref0", &h);
  EXPECT_EQ(err(), "");
  Symbol* s = define(" " + std::string(130, 'b') + " Ref0", &h);  // the lexer keeps 128
  EXPECT_EQ(s->name, std::string(128, 'b'));
  EXPECT_EQ(err(), "!ERROR {linker} Symbol \"" + std::string(128, 'b') + "\" name too long\n");
  Symbol* direct = lookup_symbol(ctx, std::string(130, 'd'), true);
  EXPECT_EQ(direct->name, std::string(128, 'd'));
  EXPECT_EQ(err(), "!ERROR {linker} Symbol \"" + std::string(130, 'd') + "\" name too long\n");
  EXPECT_EQ(lookup_symbol(ctx, std::string(131, 'd'), true), direct);  // no second entry
  std::string made = "__" + std::string(130, 'x') + "_end";
  EXPECT_EQ(lookup_linker_symbol(ctx, made)->name, made);
  EXPECT_EQ(lookup_linker_symbol(ctx, made), lookup_symbol(ctx, made, false));
  EXPECT_NE(lookup_symbol(ctx, "Foo", true), lookup_symbol(ctx, "foo", true));  // case counts
}

TEST_F(SymbolsTest, MarkersAndHiddenSymbols) {
  Header& h = add_header("m.c");
  AreaPart* text = add_part("text", h);
  const std::pair<const char*, u16> markers[] = {
      {"$cb$1", SYM_MARK_CB}, {"$se$1", SYM_MARK_SE}, {"$le$1", SYM_MARK_LE}, {"$cb", 0}, {"$cbx1", 0}};
  for (const auto& [name, flag] : markers)
    EXPECT_EQ(define(std::string(" ") + name + " Def0", &h, text)->flags & SYM_MARKERS, flag) << name;
  EXPECT_EQ(define(" $cb$2 Eq 0", &h)->flags & SYM_MARKERS, 0);
  const std::tuple<const char*, const char*, bool> hidden[] = {
      {"TEXT", "Dxf", true}, {"usermodules", "Dxf", true}, {"data", "Dxf", false},
      {"text", "Def", false}, {"text", "DXf", false}};
  int n = 0;
  for (const auto& [area, kind, expect] : hidden) {
    Symbol* s = define(" h" + std::to_string(n++) + " " + kind + "0", &h, add_part(area, h));
    EXPECT_EQ((s->flags & SYM_HIDDEN) != 0, expect) << area << " " << kind;
  }
}

TEST_F(SymbolsTest, UndefinedSymbolsInTheMapAreBareAndBeyondTheErrorLimit) {
  Header& a = add_header("lib/foo.c");
  define(" c Ref0", &add_header("bar"));
  for (int i = 0; i < 20; ++i) define(" s" + std::to_string(i) + " Ref0", &a);
  std::FILE* map = std::tmpfile();
  write_undefined_symbols(ctx, map);
  std::string text = read_all(map);
  std::fclose(map);
  EXPECT_EQ(ctx.diag.error_count(), 21);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(text.substr(0, 73), "file 'bar.o': undefined symbol 'c'file 'lib/foo.o': undefined symbol 's0'");
  EXPECT_NE(text.find("symbol 's18'file 'lib/foo.o'"), std::string::npos);  // no line feed added
}

TEST_F(SymbolsTest, BaselessSymbolsGetTheFirstPartOfTheFirstArea) {
  Header& h = add_header("m.c");
  AreaPart* first = add_part("text", h);
  AreaPart* data = add_part("data", h);
  Symbol* d = define(" d Def0", &h, data);
  Symbol* e = define(" e Eq 5", &h);
  Symbol* lone = lookup_symbol(ctx, "lone", true);  // in no module: not reported
  report_undefined_symbols(ctx);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(d->area_part, data);
  EXPECT_EQ(e->area_part, nullptr);
  EXPECT_EQ(lone->area_part, first);
}

}  // namespace
}  // namespace zeld
