// Symbol table: S-line definitions and their conflicts, names, markers,
// hidden symbols, addresses, and the undefined-symbol report.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "context.h"
#include "symbols.h"

namespace zeld {
namespace {

std::string read_all(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

class SymbolsTest : public ::testing::Test {
 protected:
  SymbolsTest() : err_(std::tmpfile()), ctx_(err_, err_) { ctx_.lex.radix = 16; }
  ~SymbolsTest() override { std::fclose(err_); }

  std::string err() { return read_all(err_); }

  Header& add_header(const std::string& name, u32 capacity = 16) {
    Header& h = ctx_.reader.headers.emplace_back();
    h.index = ctx_.reader.headers.size() - 1;
    h.name = name;
    h.symbol_capacity = capacity;
    return h;
  }
  AreaPart* add_part(const std::string& area, Header& h, u32 address = 0) {
    bool created = false;
    AreaPart* p = ctx_.areas.add_part(area, &h, created);
    p->address = address;
    return p;
  }
  // Runs the S handler on the text after the record letter.
  Symbol* define(const std::string& rest, Header* h, AreaPart* part = nullptr) {
    line_ = rest;
    ctx_.lex.reset(line_);
    return define_symbol(ctx_, h, part);
  }
  int fatal_status(const std::string& rest, Header* h) {
    try {
      define(rest, h);
    } catch (const LinkAbort& abort) {
      return abort.status;
    }
    return 0;
  }

  std::FILE* err_;
  LinkContext ctx_;
  std::string line_;
};

TEST_F(SymbolsTest, SecondDDefinitionIsReportedAndReplacesTheFirst) {
  Header& a = add_header("a.c");
  Header& b = add_header("b.c");
  AreaPart* pa = add_part("text", a);
  AreaPart* pb = add_part("text", b);
  ctx_.diag.set_current_file(std::string("b.o"));
  ctx_.diag.current_line_number = 4;
  define(" foo Def0010", &a, pa);
  Symbol* s = define(" foo Def0020", &b, pb);
  EXPECT_EQ(err(), "!E b.o(4): {linker} multiple define: 'foo'\n");
  EXPECT_EQ(s->value, 0x20u);
  EXPECT_EQ(s->area_part, pb);
  EXPECT_EQ(s->first_header, &a);
  EXPECT_EQ(ctx_.diag.error_count(), 1);
}

TEST_F(SymbolsTest, EDefinitionsConflictOnlyWithADifferentAddress) {
  Header& h = add_header("m.c");
  define(" zero Eq 0", &h);
  define(" zero Eq 0", &h);
  EXPECT_EQ(err(), "");
  define(" one Eq 0", &h);
  define(" one Eq 1", &h);
  EXPECT_EQ(err(), "!ERROR {linker} multiple define: 'one'\n");
  Symbol* one = lookup_symbol(ctx_, "one", false);
  EXPECT_EQ(one->value, 1u);
  EXPECT_EQ(one->flags, SYM_DEFINED | SYM_ABSOLUTE);
}

// An E value equal to a D offset is still another address.
TEST_F(SymbolsTest, EAfterDWithTheSameRawValueIsAMultipleDefine) {
  Header& h = add_header("m.c");
  AreaPart* part = add_part("data", h, 0x1000);
  define(" both Def0004", &h, part);
  Symbol* s = define(" both Eq 4", &h);
  EXPECT_EQ(err(), "!ERROR {linker} multiple define: 'both'\n");
  EXPECT_EQ(s->flags & (SYM_DEFINED | SYM_ABSOLUTE), SYM_DEFINED | SYM_ABSOLUTE);
  EXPECT_EQ(symbol_address(ctx_, *s), 4u);
}

TEST_F(SymbolsTest, DAfterEIsAMultipleDefine) {
  Header& h = add_header("m.c");
  AreaPart* part = add_part("data", h);
  define(" both Eq 4", &h);
  define(" both Def0004", &h, part);
  EXPECT_EQ(err(), "!ERROR {linker} multiple define: 'both'\n");
}

TEST_F(SymbolsTest, ReferencesNeverAlterADefinition) {
  Header& h = add_header("m.c");
  AreaPart* part = add_part("text", h);
  define(" f Def0012", &h, part);
  Symbol* s = define(" f Ref0000", &h);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(s->value, 0x12u);
  EXPECT_EQ(s->area_part, part);
  EXPECT_EQ(s->flags, SYM_DEFINED | SYM_REFERENCED);
  define(" g Ref0001", &h);
  EXPECT_EQ(err(), "!ERROR {linker} non zero S_REF\n");
  ASSERT_EQ(h.symbols.size(), 3u);
  EXPECT_EQ(h.symbols[0], s);
  EXPECT_EQ(h.symbols[1], s);
}

TEST_F(SymbolsTest, FatalLineErrors) {
  Header& h = add_header("m.c", 1);
  EXPECT_EQ(fatal_status(" foo Xyz0", &h), -1);
  EXPECT_EQ(err(), "!E {linker} invalid symbol type X for 'foo'\n");
  EXPECT_EQ(fatal_status(" bar", &h), -1);
  EXPECT_EQ(err(), "!E {linker} invalid symbol type X for 'foo'\n!E {linker} invalid symbol type   for 'bar'\n");
}

TEST_F(SymbolsTest, HeaderMissingOrFull) {
  EXPECT_EQ(fatal_status(" a Ref0", nullptr), -1);
  EXPECT_EQ(err(), "!E {linker} no header defined\n");
  Header& h = add_header("m.c", 1);
  define(" a Ref0", &h);
  EXPECT_EQ(fatal_status(" b Ref0", &h), -1);
  Header& none = add_header("n.c", 0);
  EXPECT_EQ(fatal_status(" c Ref0", &none), -1);
  EXPECT_EQ(err(),
            "!E {linker} no header defined\n!E {linker} header symbol list overflow\n"
            "!E {linker} header symbol list overflow\n");
}

TEST_F(SymbolsTest, NamesOf128CharactersAreReported) {
  Header& h = add_header("m.c");
  std::string n127(127, 'a'), n128(128, 'b'), n130(130, 'c');
  define(" " + n127 + " Ref0", &h);
  EXPECT_EQ(err(), "");
  // The lexer keeps 128 characters of the S line's 130.
  Symbol* s = define(" " + n130 + " Ref0", &h);
  EXPECT_EQ(s->name, std::string(128, 'c'));
  EXPECT_EQ(err(), "!ERROR {linker} Symbol \"" + std::string(128, 'c') + "\" name too long\n");
  // Called directly, the full name is reported and the first 128 kept, once.
  Symbol* direct = lookup_symbol(ctx_, std::string(130, 'd'), true);
  EXPECT_EQ(direct->name, std::string(128, 'd'));
  EXPECT_EQ(lookup_symbol(ctx_, std::string(131, 'd'), true), direct);
  EXPECT_EQ(lookup_symbol(ctx_, n128, false), nullptr);
  EXPECT_EQ(ctx_.diag.error_count(), 3);
  EXPECT_NE(err().find("Symbol \"" + std::string(131, 'd') + "\" name too long"), std::string::npos);
}

TEST_F(SymbolsTest, LinkerNamesAreKeptWhole) {
  std::string name = "__" + std::string(130, 'x') + "_end";
  Symbol* s = lookup_linker_symbol(ctx_, name);
  EXPECT_EQ(s->name, name);
  EXPECT_EQ(lookup_linker_symbol(ctx_, name), s);
  u32 address = 0;
  EXPECT_TRUE(find_symbol_address(ctx_, name, address));
  EXPECT_EQ(err(), "");
}

TEST_F(SymbolsTest, NamesDifferingInCaseAreDifferentSymbols) {
  EXPECT_NE(lookup_symbol(ctx_, "Foo", true), lookup_symbol(ctx_, "foo", true));
  EXPECT_EQ(ctx_.symbols.size(), 2u);
}

TEST_F(SymbolsTest, MarkersOnlyForDDefinitions) {
  Header& h = add_header("m.c");
  AreaPart* part = add_part("text", h);
  struct {
    const char* name;
    u16 flag;
  } cases[] = {{"$cb$1", SYM_MARK_CB}, {"$ce$1", SYM_MARK_CE}, {"$sb$1", SYM_MARK_SB}, {"$se$1", SYM_MARK_SE},
               {"$lb$1", SYM_MARK_LB}, {"$le$1", SYM_MARK_LE}, {"$cb", 0},           {"$cbx1", 0}};
  for (const auto& c : cases) {
    Symbol* s = define(std::string(" ") + c.name + " Def0", &h, part);
    EXPECT_EQ(s->flags & SYM_MARKERS, c.flag) << c.name;
  }
  Symbol* e = define(" $cb$2 Eq 0", &h);
  EXPECT_EQ(e->flags & SYM_MARKERS, 0);
}

TEST_F(SymbolsTest, HiddenSymbolsInCodeAreas) {
  Header& h = add_header("m.c");
  struct {
    const char* area;
    const char* kind;
    bool hidden;
  } cases[] = {{"TEXT", "Dxf", true},  {"text", "Dxf", true}, {"usermodules", "Dxf", true},
               {"data", "Dxf", false}, {"text", "Def", false}, {"text", "DXf", false}};
  int n = 0;
  for (const auto& c : cases) {
    AreaPart* part = add_part(c.area, h);
    Symbol* s = define(" h" + std::to_string(n++) + " " + c.kind + "0", &h, part);
    EXPECT_EQ((s->flags & SYM_HIDDEN) != 0, c.hidden) << c.area << " " << c.kind;
  }
}

TEST_F(SymbolsTest, AddressesAndTheUnplacedAreaDuringDefinitions) {
  Header& h = add_header("m.c");
  AreaPart* part = add_part("data", h, 0x2000);
  Symbol* rel = define(" rel Def0010", &h, part);
  Symbol* abs = define(" abs Eq 10", &h, part);
  EXPECT_EQ(symbol_address(ctx_, *rel), 0x2010u);
  EXPECT_EQ(symbol_address(ctx_, *abs), 0x10u);
  ctx_.symbols.applying_global_definitions = true;
  EXPECT_EQ(symbol_address(ctx_, *abs), 0x10u);
  try {
    symbol_address(ctx_, *rel);
    FAIL() << "no fatal report";
  } catch (const LinkAbort& abort) {
    EXPECT_EQ(abort.status, -1);
  }
  EXPECT_EQ(err(), "!E {linker} command line option: symbol 'rel' address not yet known\n");
  part->area->placed = true;
  EXPECT_EQ(symbol_address(ctx_, *rel), 0x2010u);
}

class UndefinedReportTest : public SymbolsTest {};

TEST_F(UndefinedReportTest, FirstModuleInReadingOrderOncePerSymbol) {
  Header& a = add_header("lib/foo.c");
  Header& b = add_header("bar.c");
  add_part("text", a);
  define(" _x Ref0", &a);
  define(" _x Ref0", &b);
  define(" _y Ref0", &b);
  ctx_.diag.set_current_file(std::string("last.o"));
  report_undefined_symbols(ctx_, ctx_.diag.stream());
  // "_x" is in bucket 215, "_y" in 216.
  EXPECT_EQ(err(),
            "!ERROR {linker} file 'lib/foo.o': undefined symbol '_x'\n"
            "!ERROR {linker} file 'bar.o': undefined symbol '_y'\n");
  EXPECT_EQ(ctx_.diag.error_count(), 2);
}

TEST_F(UndefinedReportTest, BucketOrderThenNewestFirst) {
  Header& h = add_header("m");
  // "ba" and "ab" share a bucket; "c" has a smaller one.
  define(" ab Ref0", &h);
  define(" ba Ref0", &h);
  define(" c Ref0", &h);
  report_undefined_symbols(ctx_, ctx_.diag.stream());
  EXPECT_EQ(err(),
            "!ERROR {linker} file 'm.o': undefined symbol 'c'\n"
            "!ERROR {linker} file 'm.o': undefined symbol 'ba'\n"
            "!ERROR {linker} file 'm.o': undefined symbol 'ab'\n");
}

TEST_F(UndefinedReportTest, DeviceSpecificFunction) {
  Header& h = add_header("main.c");
  define(" _putchar$device_specific$ Ref0", &h);
  define(" a$b$device_specific$ Ref0", &h);  // the text after the first '$' differs
  report_undefined_symbols(ctx_, ctx_.diag.stream());
  EXPECT_EQ(err(),
            "!ERROR {linker} file 'main.o': undefined symbol 'a$b$device_specific$'\n"
            "!ERROR {linker} Function 'putchar' not defined. This is a hardware dependent function,\n"
            "  and it is not included in the ZOL12 default library. Please implement\n"
            "  this function to match your target requirements. You can find examples\n"
            "  of this function under the <install root>\\examples.12 directory. Make\n"
            "  a copy of a suitable example, add it to your project and modify it if\n"
            "  needed. The source code must #include the appropriate C header file\n"
            "  (e.g. stdio.h) as it contains the special compiler pragma for 'putchar'.\n\n");
}

TEST_F(UndefinedReportTest, OtherStreamGetsRawTextAndNoLimit) {
  Header& h = add_header("m.c", 20);
  for (int i = 0; i < 20; ++i) define(" s" + std::to_string(i) + " Ref0", &h);
  std::FILE* map = std::tmpfile();
  report_undefined_symbols(ctx_, map);
  std::string text = read_all(map);
  std::fclose(map);
  EXPECT_EQ(ctx_.diag.error_count(), 20);
  EXPECT_EQ(err(), "");
  // s0..s19 lie in ascending buckets; no line feed is added.
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += "file 'm.o': undefined symbol 's" + std::to_string(i) + "'";
  EXPECT_EQ(text, expected);
}

TEST_F(UndefinedReportTest, BaselessSymbolsGetTheFirstPartOfTheFirstArea) {
  Header& h = add_header("m.c");
  AreaPart* first = add_part("text", h);
  AreaPart* data = add_part("data", h);
  Symbol* d = define(" d Def0", &h, data);
  Symbol* e = define(" e Eq 5", &h);
  Symbol* lone = lookup_symbol(ctx_, "lone", true);  // in no module: not reported
  report_undefined_symbols(ctx_, ctx_.diag.stream());
  EXPECT_EQ(err(), "");
  EXPECT_EQ(d->area_part, data);
  EXPECT_EQ(e->area_part, nullptr);
  EXPECT_EQ(lone->area_part, first);
}

}  // namespace
}  // namespace zeld
