// Debug information: what the end-to-end links do not show. Field limits
// and texts kept as read, lines with nothing to attach to, entries that
// reach their function across interruptions and across the pools' chunks,
// and the static symbols' names at scale and at the name limit. The walk's
// order, its .dbg and COFF outputs and the record lists it refuses are
// pinned end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context.h"
#include "debug_info.h"
#include "debug_visitor.h"
#include "object_reader.h"
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

  // The walk's callbacks, one line each.
  std::string walk() { return walk(ctx.debug); }
  std::string walk(const DebugState& debug) {
    struct Trace final : DebugVisitor {
      const DebugState* d = nullptr;
      std::string text;
      static std::string at(const DbLine& e) { return strprintf(" %u@%u", e.line, e.address); }
      void begin_walk(const DebugState& debug) override { d = &debug; }
      void begin_file(const DbFile&, std::string_view base) override { text += "file " + std::string(base) + "\n"; }
      void structure(const DbStruct& s) override {
        text += "struct " + std::string(d->text(s.text));
        for (DbText field : d->fields.run(s.fields)) text += " | " + std::string(d->text(field));
        text += "\n";
      }
      void enter_function(const DbFunc& f, const DbFunctionHead& head) override {
        text += "func " + std::string(d->text(f.name())) + strprintf(" @%u", head.address);
        text += (head.first ? " first" + at(*head.first) + " last" + at(*head.last) : "") + "\n";
      }
      void symbol(const DbSym& s) override {
        text += std::string("sym ") + s.kind() + " " + std::string(d->text(s.name()));
        text += (s.kind() == 's' || s.kind() == 'e' ? strprintf(" @%u", s.value) : "") + "\n";
      }
      void line(const DbLine& e) override { text += "line" + at(e) + "\n"; }
      void block_end(const DbLine& e) override { text += "block end" + at(e) + "\n"; }
      void function_end(const DbLine& e) override { text += "end" + at(e) + "\n"; }
      void leave_function(const DbFunc&) override { text += "leave\n"; }
    } trace;
    DebugVisitor* visitors[] = {&trace};
    walk_debug_records(debug, ctx.diag, visitors);
    return trace.text;
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
  EXPECT_EQ(d.text(variable.name()), std::string(511, 'n'));
  EXPECT_EQ(variable.value, 0x1Fu);  // the dropped rest of the name is not read as the value
  EXPECT_EQ(d.text(variable.type), std::string(131, 'T'));
  const DbFunc& fn = d.functions[f.functions.first];
  EXPECT_TRUE(fn.has_stack());
  EXPECT_EQ(d.text(DbText{fn.stack}), std::string(511, 'x'));
  std::vector<std::string_view> texts, tags;
  for (const DbStruct& s : d.structs.list(d.structs_of(fn))) {
    texts.push_back(d.text(s.text));
    tags.push_back(debug_struct_tag(d.text(s.text)));
  }
  EXPECT_EQ(texts, (std::vector<std::string_view>{"  4 point", "8", "6 trailing "}));
  EXPECT_EQ(tags, (std::vector<std::string_view>{"point", "", ""}));
  const DbStruct& point = d.structs[d.structs_of(fn).first];
  ASSERT_EQ(point.fields.count, 1u);
  EXPECT_EQ(d.text(d.fields[point.fields.begin]), " 0 x I");
}

// Entries go to the function that is current when they come; lines,
// locals and fields cut off by a file switch or a function end are dropped
// or go where the records say, and a revisited file gathers on.
TEST_F(DebugInfoTest, EntriesKeepTheirFunctionAcrossInterruptions) {
  for (const char* line : {"Xfile a.c", "Xstruct 2 s1", "Xfield 0 a I", "Xfunc e f 0 fV", "Xline FFFFFFFF 0",
                           "Xsym l x 2 I", "Xline 1 0", "Xunion 2 u", "Xfield 0 b C", "Xsym r y 1 C",
                           "Xline FFFFFFFE 2", "Xline 2 4",
                           "Xfile b.c",     // f ends without its end entry
                           "Xline 3 6",     // dropped: no function is current
                           "Xsym l lost 0 I",
                           "Xfield 1 c C",  // joins u, the last definition
                           "Xfunc e ? 8 fV",  // unnamed, without entries
                           "Xfile a.c", "Xfunc s g 10 fV", "Xline FFFFFFFF 10", "Xline 5 10", "Xline 0 12",
                           "Xsym l after 0 I",  // behind the end entry: dropped
                           "Xsym e v 20 I"})
    collect(line);
  EXPECT_EQ(walk(),
            "file a.c\nstruct 2 s1 | 0 a I\n"
            "func f @0 first 1@0 last 2@4\nstruct 2 u | 0 b C | 1 c C\nsym l x\nsym r y\n"
            "line 1@0\nblock end 2@4\nline 2@4\nleave\n"
            "func g @16 first 5@16 last 0@18\nline 5@16\nend 0@18\nleave\nsym e v @32\n"
            "file b.c\nfunc ? @8\nleave\n");
  EXPECT_EQ(err(), "");
}

// A function's entries and locals run on across the pools' chunks.
TEST_F(DebugInfoTest, LongRunsCrossChunks) {
  constexpr u32 kLines = 70000, kLocals = 20000;
  std::string expected = "file a.c\nfunc small @0 first 1@0 last 0@2\nline 1@0\nend 0@2\nleave\n"
                         "func big @0 first 1@1 last 0@65535\n";
  for (const char* line : {"Xfile a.c", "Xfunc e small 0 fV", "Xline FFFFFFFF 0", "Xline 1 0", "Xline 0 2",
                           "Xfunc e big 0 fV", "Xline FFFFFFFF 0"})
    collect(line);
  for (u32 i = 1; i <= kLines; ++i) {
    collect(strprintf("Xline %X %X", i, i));
    if (i <= kLocals) {
      collect(strprintf("Xsym l v%u 0 I", i));
      expected += strprintf("sym l v%u\n", i);
    }
  }
  collect("Xline 0 FFFF");
  for (u32 i = 1; i <= kLines; ++i) expected += strprintf("line %u@%u\n", i, i);
  expected += "end 0@65535\nleave\n";
  // Entries of several bytes each, across chunks too.
  collect("Xfunc e far 0 fV");
  collect("Xline FFFFFFFF 0");
  expected += "func far @0 first 1@0 last 2147483647@4294967040\n";
  for (u32 i = 0; i < kLines / 4; ++i) {
    collect(i % 2 ? "Xline 7FFFFFFF FFFFFF00" : "Xline 1 0");
    expected += i % 2 ? "line 2147483647@4294967040\n" : "line 1@0\n";
  }
  expected += "leave\n";
  EXPECT_TRUE(walk() == expected);
}

// The walk hands over absolute addresses: the part's address added, in an
// extended code page area the page:window form of each entry. The statics
// are defined once, with their area-relative offsets.
TEST_F(DebugInfoTest, WalkMakesAddressesAbsolute) {
  Area banked, plain;
  banked.flags = AREA_EXT_CODE;
  AreaPart paged{&banked, nullptr, 0x14000, 0x8000};
  AreaPart linear{&plain, nullptr, 0x2000, 0x100};
  collect("Xfile a.c");
  for (const char* line : {"Xfunc s f 10 fV", "Xline FFFFFFFF 10", "Xline 1 10", "Xline 0 4000"})
    collect(line, &paged);
  collect("Xsym s v 4 I", &linear);
  relocate_debug_records(ctx);
  relocate_debug_records(ctx);
  EXPECT_EQ(walk(),
            "file a.c\nfunc f @360464 first 1@360464 last 0@425984\nline 1@360464\nend 0@425984\nleave\n"
            "sym s v @8196\n");
  Symbol* f = lookup_symbol(ctx, "a.c:f", false);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->area_part, &paged);
  EXPECT_EQ(f->value, 0x10u);
  Symbol* v = lookup_symbol(ctx, "a.c:v", false);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->value, 4u);
  EXPECT_EQ(lookup_symbol(ctx, "a.c:v:1", false), nullptr);
}

// Line numbers and addresses come back as read whatever their
// differences: wrapping at 32 bits, going back, too large for one byte,
// and markers or other non-positive numbers between source lines.
TEST_F(DebugInfoTest, LineEntriesComeBackAsRead) {
  for (const char* line : {"Xfile a.c", "Xfunc e f 100 fV", "Xline FFFFFFFF 100", "Xline 7FFFFFFF 100",
                           "Xline 1 FFFFFFFF", "Xline FFFFFFFE 10", "Xline 80000000 11", "Xline 2 11",
                           "Xline 3 1F", "Xline 7 2F", "Xline 8 2F", "Xline 0 2E"})
    collect(line);
  EXPECT_EQ(walk(),
            "file a.c\nfunc f @256 first 2147483647@256 last 0@46\n"
            "line 2147483647@256\nline 1@4294967295\nblock end 2147483648@17\nline 2@17\n"
            "line 3@31\nline 7@47\nline 8@47\nend 0@46\nleave\n");
}

// The reading of an object parses most line entries ahead; every form a
// d line may take reads as the d-line handler reads it by itself: other
// white space, a keyword that only begins with "line", numbers missing,
// cut short or in another radix.
TEST_F(DebugInfoTest, LineEntriesReadAheadAsTheHandlerReadsThem) {
  const std::vector<std::string> lines = {
      "Xfile a.c", "Xfunc e f 100 fV", "Xline FFFFFFFF 100", "Xline 1 100", "Xline\t2\t102", "Xline 3", "Xline", " line 9 9",
      "Xlines 4 4", "Xline 5 10A ; x", "XlineX 6 6", "Xline 7 1G0", "Xline  8   10C", "Xline 0 110"};
  std::string text = "XH\n";
  for (const std::string& line : lines) {
    collect(line);
    text += "d" + line + "\n";
  }
  text += "QH\ndXfunc e g 10 fV\ndXline 37777777777 10\ndXline 17 11\ndXline 0 377\n";
  ctx.lex.radix = 8;
  for (const char* line : {"Xfunc e g 10 fV", "Xline 37777777777 10", "Xline 17 11", "Xline 0 377"}) collect(line);

  CapturedLink ahead;
  InputFile file{"a.o"};
  read_object_text(ahead.ctx, file, text);
  EXPECT_EQ(walk(ahead.ctx.debug), walk());
  EXPECT_NE(walk().find("line 15@9"), std::string::npos);  // octal 17 at 8 + 1
}

// Each text interned once keeps one place however often it comes, and
// texts that share a beginning keep places of their own.
TEST_F(DebugInfoTest, RepeatedTextsAreKeptOnce) {
  DebugTexts texts;
  std::vector<DbText> kept;
  for (u32 i = 0; i < 5000; ++i) kept.push_back(texts.intern(strprintf("t%u", i)));
  for (u32 i = 0; i < 5000; ++i) {
    std::string text = strprintf("t%u", i);
    EXPECT_EQ(texts.intern(text), kept[i]) << text;
    EXPECT_EQ(texts[kept[i]], text);
  }
  std::string long_text(300, 'x');
  DbText once = texts.intern(long_text);
  EXPECT_EQ(texts.intern(long_text), once);
  EXPECT_EQ(texts[once], long_text);
  EXPECT_EQ(texts.intern(""), DbText{});
  EXPECT_NE(texts.keep("t1"), kept[1]);  // kept apart: a name that need not repeat
}

// Files keep their first-appearance order and are found again by path,
// however many there are.
TEST_F(DebugInfoTest, FilesAreFoundAgainByPath) {
  for (u32 i = 0; i < 1000; ++i) find_debug_file(ctx, strprintf("f%u.c", i));
  for (u32 i = 0; i < 1000; i += 7) EXPECT_EQ(&find_debug_file(ctx, strprintf("f%u.c", i)), &ctx.debug.files[i]);
  ASSERT_EQ(ctx.debug.files.size(), 1000u);
  EXPECT_EQ(ctx.debug.files[999].name, "f999.c");
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
