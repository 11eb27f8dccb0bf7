// Debug information: what the end-to-end links do not show. Field limits
// and texts kept as read, structure tags and their lookup through the
// scopes, relocation running once, and the static symbols' names at scale
// and at the name limit. The COFF entries the walk builds are pinned end to
// end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "context.h"
#include "debug_info.h"
#include "test_support.h"

namespace zeld {
namespace {

class DebugInfoTest : public ::testing::Test {
 protected:
  DebugInfoTest() : err_(std::tmpfile()), ctx_(err_, err_) { ctx_.lex.radix = 16; }
  ~DebugInfoTest() override { std::fclose(err_); }

  std::string err() { return read_all(err_); }
  // Hands the text after the record letter to the d-line handler.
  void collect(const std::string& rest, AreaPart* part = nullptr) {
    line_ = rest;
    ctx_.lex.reset(line_);
    collect_debug_line(ctx_, ctx_.lex, part);
  }
  DbFile& file(std::size_t i) { return ctx_.debug.files.at(i); }

  std::FILE* err_;
  LinkContext ctx_;
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
  EXPECT_EQ(ctx_.debug.files.size(), 1u);
}

TEST_F(DebugInfoTest, TagLookupSearchesFunctionThenFileThenEveryFile) {
  collect("Xfile a.c");
  collect("Xstruct 2 s");
  collect("Xstruct 2");  // no tag: never found, not even by an empty tag
  collect("Xfunc e f 0 fV");
  collect("Xstruct 2 s");
  collect("Xstruct 2 later");
  collect("Xfile b.c");
  collect("Xstruct 4 other");
  DbFile& a = file(0);
  DbFunc& f = *a.functions[0];
  a.structs[0]->tag_index = 2;
  a.structs[1]->tag_index = 5;
  f.structs[0]->tag_index = 9;  // f.structs[1] not written yet
  file(1).structs[0]->tag_index = 20;
  DebugState& d = ctx_.debug;
  d.tag_scope[0] = &a.structs;
  d.tag_scope_owner[0] = "a.c";
  d.tag_scope[1] = &f.structs;

  EXPECT_EQ(find_struct_tag(ctx_, "s", false), 9);
  EXPECT_EQ(find_struct_tag(ctx_, "later", false), 0);
  EXPECT_EQ(find_struct_tag(ctx_, "other", false), -1);
  EXPECT_EQ(find_struct_tag(ctx_, "", false), -1);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(find_struct_tag(ctx_, "other", true), 20);
  EXPECT_EQ(find_struct_tag(ctx_, "none", true), -1);
  EXPECT_EQ(err(), "  File a.c \n");
}

// Long lists are searched through an index: the first definition of a tag
// still decides, within a list and across files.
TEST_F(DebugInfoTest, FirstDefinitionDecidesInLongLists) {
  for (const char* path : {"a.c", "b.c"}) {
    collect(std::string("Xfile ") + path);
    for (int i = 0; i < 40; ++i) collect("Xstruct 2 t" + std::to_string(i % 20));
    collect("Xstruct 2");
  }
  u32 next_index = 100;
  for (DbStruct& s : ctx_.debug.struct_pool) s.tag_index = next_index++;
  ctx_.debug.tag_scope[0] = &file(1).structs;
  EXPECT_EQ(find_struct_tag(ctx_, "t7", false), 100 + 41 + 7);
  ctx_.debug.tag_scope[0] = nullptr;
  EXPECT_EQ(find_struct_tag(ctx_, "t19", true), 100 + 19);
  EXPECT_EQ(find_struct_tag(ctx_, "", true), -1);
  EXPECT_EQ(err(), "  File  \n");
}

TEST_F(DebugInfoTest, RelocationRunsOnce) {
  Header& h = ctx_.reader.headers.emplace_back();
  bool created = false;
  AreaPart* part = ctx_.areas.add_part("text", &h, created);
  part->address = 0xC000;
  collect("Xfile a.c");
  collect("Xfunc e f 10 fV", part);
  collect("Xline FFFFFFFF 10");
  collect("Xsym e g 4 I", part);
  relocate_debug_records(ctx_);
  relocate_debug_records(ctx_);
  EXPECT_EQ(file(0).functions[0]->address, 0xC010u);
  EXPECT_EQ(file(0).functions[0]->dbline_head->address, 0xC010u);
  EXPECT_EQ(file(0).variables[0].value, 0xC004u);
}

TEST_F(DebugInfoTest, StaticSymbolsOfOneNameNumberOnWithoutRescanning) {
  DbFile& f = find_debug_file(ctx_, "src\\a.c");
  Symbol* first = lookup_symbol(ctx_, "a.c:foo", true);
  first->flags = SYM_REFERENCED | SYM_HIDDEN;
  for (u32 i = 0; i < 3000; ++i) define_static_debug_symbol(ctx_, f, "foo", nullptr, i);
  EXPECT_EQ(first->flags, SYM_DEFINED);
  EXPECT_EQ(first->value, 0u);
  Symbol* last = lookup_symbol(ctx_, "a.c:foo:2999", false);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->value, 2999u);
  EXPECT_EQ(ctx_.diag.error_count(), 0);
}

TEST_F(DebugInfoTest, StaticNameCutToTheLimitIsDefinedOnce) {
  DbFile& f = find_debug_file(ctx_, "a.c");
  std::string name(126, 'n');  // "a.c:" + 126 characters = 130
  define_static_debug_symbol(ctx_, f, name, nullptr, 1);
  define_static_debug_symbol(ctx_, f, name, nullptr, 2);
  std::string kept = ("a.c:" + name).substr(0, 128);
  Symbol* sym = lookup_symbol(ctx_, kept, false);
  ASSERT_NE(sym, nullptr);
  EXPECT_EQ(sym->value, 1u);
  std::string report = "!ERROR {linker} Symbol \"a.c:" + name + "\" name too long\n";
  EXPECT_EQ(err(), report + report);
}

}  // namespace
}  // namespace zeld
