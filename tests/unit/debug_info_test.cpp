// Debug information: what the end-to-end links do not show. Field limits
// and texts kept as read, the order in which the walk hands the records to
// its visitors, relocation running once, and the static symbols' names at
// scale and at the name limit. The .dbg and COFF outputs of the walk, and
// the record lists it refuses, are pinned end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "context.h"
#include "debug_info.h"
#include "debug_visitor.h"
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
  DbFile& file(std::size_t i) { return ctx.debug.files.at(i); }

  std::string line_;
};

TEST_F(DebugInfoTest, FieldsKeepTheirLimitsAndTheirText) {
  std::string long_name(600, 'n'), long_type(200, 'T'), long_text(700, 'x');
  collect("Xfile   my dir/sub/a b.c ");
  collect("Xsym e " + long_name + " 1F " + long_type);
  collect("Xfunc e f 0 fV");
  collect("Xstack " + long_text);
  collect("Xstruct   4 point");
  collect("Xfield\t 0 x I");
  collect("Xunion 8");  // the tag is the text after the last space: none here
  collect("Xstruct 6 trailing ");

  DbFile& f = file(0);
  EXPECT_EQ(f.name, "my dir\\sub\\a b.c ");  // blanks inside and after the path stay
  ASSERT_EQ(f.variables.size(), 1u);
  EXPECT_EQ(f.variables[0].name, std::string(511, 'n'));
  EXPECT_EQ(f.variables[0].value, 0x1Fu);  // the dropped rest of the name is not read as the value
  EXPECT_EQ(f.variables[0].type, std::string(131, 'T'));
  DbFunc& fn = *f.functions.at(0);
  EXPECT_EQ(*fn.stack, std::string(511, 'x'));
  ASSERT_EQ(fn.structs.size(), 3u);
  EXPECT_EQ(fn.structs[0]->text, "  4 point");
  EXPECT_EQ(fn.structs[0]->tag, "point");
  EXPECT_EQ(fn.structs[0]->fields.at(0).text, " 0 x I");
  EXPECT_FALSE(fn.structs[1]->is_struct);
  EXPECT_EQ(fn.structs[1]->tag, "");
  EXPECT_EQ(fn.structs[2]->tag, "");
}

TEST_F(DebugInfoTest, LinesThatCannotAttachAreDropped) {
  collect("Xfunc e early 0 fV");  // no file yet
  collect("Xstruct 2 lost");      // neither file nor function
  collect("Xfield 0 a I");
  collect("Xline 5 0");
  collect("Xfile a.c");
  collect("Xsym x odd 0 I");  // unknown kind outside a function
  collect("Xsym");            // no kind, no name
  EXPECT_TRUE(file(0).functions.empty());
  EXPECT_TRUE(file(0).structs.empty());
  EXPECT_TRUE(file(0).variables.empty());
  EXPECT_EQ(ctx.debug.files.size(), 1u);
}

// Every callback of the walk, as text.
class RecordingVisitor : public DebugVisitor {
 public:
  std::vector<std::string> calls;

  void begin_walk(const std::deque<DbFile>& files) override { add("walk " + std::to_string(files.size())); }
  void begin_file(const DbFile&, std::string_view base_name) override { add("file " + std::string(base_name)); }
  void structure(const DbStruct& s) override { add("struct " + s.text); }
  void enter_function(const DbFunc& f, const DbLine* first) override {
    add("enter " + f.name + (first ? " " + std::to_string(first->line) : ""));
  }
  void symbol(const DbSym& sym) override { add("sym " + sym.name); }
  void line(const DbLine& entry) override { add("line " + std::to_string(entry.line)); }
  void block_end(const DbLine& end) override { add("blockend " + std::to_string(end.line)); }
  void function_end(const DbLine&) override { add("end"); }
  void leave_function(const DbFunc& f) override { add("leave " + f.name); }
  void end_file(const DbFile& f) override { add("endfile " + f.name); }

 private:
  void add(std::string call) { calls.push_back(std::move(call)); }
};

TEST_F(DebugInfoTest, WalkHandsEveryVisitorTheRecordsInFileOrder) {
  collect("Xfile empty.c");  // no records: skipped, but handed to begin_walk
  collect("Xfile dir/a.c");
  collect("Xsym e g 0 I");  // file variables come after the functions
  collect("Xstruct 2 s");
  collect("Xfunc e f 0 fV");
  collect("Xsym l i FFFFFFFE I");
  collect("Xstruct 4 t");
  collect("Xline FFFFFFFF 0");
  collect("Xline A 0");
  collect("Xline FFFFFFFE 0");  // a block end: the next entry gives it, then counts itself
  collect("Xline C 4");
  collect("Xline 0 6");
  collect("Xfunc s ? 8 fV");  // unnamed: its list starts at the head
  collect("Xline 14 8");
  collect("Xfunc e none 10 fV");  // stays open: the line after it would end it
  collect("Xline FFFFFFFF 10");
  collect("Xline 15 10");
  collect("Xfile b.c");
  collect("Xsym s v 0 I");

  RecordingVisitor first, second;
  DebugVisitor* both[] = {&first, &second};
  walk_debug_records(ctx.debug, ctx.diag, both);
  std::vector<std::string> expected = {
      "walk 3",      "file a.c",    "struct 2 s", "enter f 10",    "struct 4 t",      "sym i",
      "line 10",     "blockend 12", "line 12",    "end",           "leave f",         "enter ? 20",
      "line 20",     "leave ?",     "enter none 21", "line 21",    "leave none",      "sym g",
      "endfile dir\\a.c", "file b.c", "sym v",    "endfile b.c",
  };
  EXPECT_EQ(first.calls, expected);
  EXPECT_EQ(second.calls, expected);
  EXPECT_EQ(err(), "");
}

TEST_F(DebugInfoTest, RelocationRunsOnce) {
  Header& h = ctx.reader.headers.emplace_back();
  bool created = false;
  AreaPart* part = ctx.areas.add_part("text", &h, created);
  part->address = 0xC000;
  collect("Xfile a.c");
  collect("Xfunc e f 10 fV", part);
  collect("Xline FFFFFFFF 10");
  collect("Xsym e g 4 I", part);
  relocate_debug_records(ctx);
  relocate_debug_records(ctx);
  EXPECT_EQ(file(0).functions[0]->address, 0xC010u);
  EXPECT_EQ(file(0).functions[0]->dbline_head->address, 0xC010u);
  EXPECT_EQ(file(0).variables[0].value, 0xC004u);
}

TEST_F(DebugInfoTest, StaticSymbolsOfOneNameNumberOnWithoutRescanning) {
  DbFile& f = find_debug_file(ctx, "src\\a.c");
  Symbol* first = lookup_symbol(ctx, "a.c:foo", true);
  first->flags = SYM_REFERENCED | SYM_HIDDEN;
  for (u32 i = 0; i < 3000; ++i) define_static_debug_symbol(ctx, f, "foo", nullptr, i);
  EXPECT_EQ(first->flags, SYM_DEFINED);
  EXPECT_EQ(first->value, 0u);
  Symbol* last = lookup_symbol(ctx, "a.c:foo:2999", false);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->value, 2999u);
  EXPECT_EQ(ctx.diag.error_count(), 0);
}

TEST_F(DebugInfoTest, StaticNameCutToTheLimitIsDefinedOnce) {
  DbFile& f = find_debug_file(ctx, "a.c");
  std::string name(126, 'n');  // "a.c:" + 126 characters = 130
  define_static_debug_symbol(ctx, f, name, nullptr, 1);
  define_static_debug_symbol(ctx, f, name, nullptr, 2);
  std::string kept = ("a.c:" + name).substr(0, 128);
  Symbol* sym = lookup_symbol(ctx, kept, false);
  ASSERT_NE(sym, nullptr);
  EXPECT_EQ(sym->value, 1u);
  std::string report = "!ERROR {linker} Symbol \"a.c:" + name + "\" name too long\n";
  EXPECT_EQ(err(), report + report);
}

}  // namespace
}  // namespace zeld
