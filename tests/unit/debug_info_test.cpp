// Debug information: what the end-to-end links do not show. Field limits
// and texts kept as read, lines with nothing to attach to, and the static
// symbols' names at scale and at the name limit. The walk's order, its .dbg
// and COFF outputs and the record lists it refuses are pinned end to end.
#include <gtest/gtest.h>

#include <string>

#include "context.h"
#include "debug_info.h"
#include "test_support.h"

namespace zeld {
namespace {

class DebugInfoTest : public LinkTest {
 protected:
  DebugInfoTest() { ctx.lex.radix = 16; }

  // Hands the text after the record letter to the d-line handler.
  void collect(const std::string& rest, AreaPart* part = nullptr) {
    line_ = rest;
    ctx.lex.reset(line_);
    collect_debug_line(ctx, ctx.lex, part);
  }

  std::string line_;
};

// Lines with nothing to attach to are dropped; the rest keep their text.
TEST_F(DebugInfoTest, FieldsKeepTheirLimitsAndTheirText) {
  std::string long_name(600, 'n'), long_type(200, 'T'), long_text(700, 'x');
  collect("Xfunc e early 0 fV");  // no file yet
  collect("Xstruct 2 lost");      // neither file nor function
  collect("Xfield 0 a I");
  collect("Xline 5 0");
  collect("Xfile   my dir/sub/a b.c ");
  collect("Xsym x odd 0 I");  // unknown kind outside a function
  collect("Xsym");            // no kind, no name
  collect("Xsym e " + long_name + " 1F " + long_type);
  collect("Xfunc e f 0 fV");
  collect("Xstack " + long_text);
  collect("Xstruct   4 point");
  collect("Xfield\t 0 x I");
  collect("Xunion 8");  // the tag is the text after the last space: none here
  collect("Xstruct 6 trailing ");

  const DebugState& d = ctx.debug;
  ASSERT_EQ(d.files.size(), 1u);
  const DbFile& f = d.files[0];
  EXPECT_EQ(f.structs.count, 0u);
  ASSERT_EQ(f.functions.count, 1u);
  EXPECT_EQ(f.name, "my dir\\sub\\a b.c ");  // blanks inside and after the path stay
  ASSERT_EQ(f.variables.count, 1u);
  const DbSym& variable = d.variables[f.variables.first].sym;
  EXPECT_EQ(d.text(variable.name), std::string(511, 'n'));
  EXPECT_EQ(variable.value, 0x1Fu);  // the dropped rest of the name is not read as the value
  EXPECT_EQ(d.text(variable.type), std::string(131, 'T'));
  const DbFunc& fn = d.functions[f.functions.first];
  EXPECT_TRUE(fn.has_stack);
  EXPECT_EQ(d.text(fn.stack), std::string(511, 'x'));
  std::vector<std::string_view> texts, tags;
  for (const DbStruct& s : d.structs.list(fn.structs.first)) {
    texts.push_back(d.text(s.text));
    tags.push_back(debug_struct_tag(d.text(s.text)));
  }
  EXPECT_EQ(texts, (std::vector<std::string_view>{"  4 point", "8", "6 trailing "}));
  EXPECT_EQ(tags, (std::vector<std::string_view>{"point", "", ""}));
  const DbStruct& point = d.structs[fn.structs.first];
  ASSERT_EQ(point.fields.count, 1u);
  EXPECT_EQ(d.text(d.fields[point.fields.begin]), " 0 x I");
}

// A referenced symbol of the name is taken over; later ones number on
// (3000 of them, without rescanning); a name cut to the limit is defined once.
TEST_F(DebugInfoTest, StaticSymbolNames) {
  DbFile& f = find_debug_file(ctx, "src\\a.c");
  Symbol* first = lookup_symbol(ctx, "a.c:foo", true);
  first->flags = SYM_REFERENCED | SYM_HIDDEN;
  for (u32 i = 0; i < 3000; ++i) define_static_debug_symbol(ctx, f, "foo", nullptr, i);
  EXPECT_EQ(first->flags, SYM_DEFINED);
  EXPECT_EQ(first->value, 0u);
  ASSERT_NE(lookup_symbol(ctx, "a.c:foo:2999", false), nullptr);
  EXPECT_EQ(lookup_symbol(ctx, "a.c:foo:2999", false)->value, 2999u);
  EXPECT_EQ(err(), "");

  std::string name(126, 'n');  // "a.c:" + 126 characters = 130
  define_static_debug_symbol(ctx, f, name, nullptr, 1);
  define_static_debug_symbol(ctx, f, name, nullptr, 2);
  Symbol* sym = lookup_symbol(ctx, ("a.c:" + name).substr(0, 128), false);
  ASSERT_NE(sym, nullptr);
  EXPECT_EQ(sym->value, 1u);
  std::string report = "!ERROR {linker} Symbol \"a.c:" + name + "\" name too long\n";
  EXPECT_EQ(err(), report + report);
}

}  // namespace
}  // namespace zeld
