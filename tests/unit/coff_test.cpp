// The COFF writer where the end-to-end links do not reach: type codes at
// the edges of the grammar, grammar faults and arbitrary type texts, the
// written range of the image, the line table's limits, and structure tags
// in long lists and past the backpatch limit. Whole links are pinned end to
// end: the worked example, tags through the walk's scopes, register values,
// long names, array sections and the time stamp among them.
#include "coff.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "context.h"
#include "debug_info.h"
#include "image.h"
#include "test_support.h"

namespace zeld {
namespace {

struct CoffTest : LinkTest {
  CoffTest() {
    records.files.resize(2);
    builder.begin_walk(records);
  }

  CoffDebugBuilder builder{ctx};
  DebugState records;  // as the walk hands them over
  std::deque<DbFile>& files = records.files;

  const CoffEntry& at(u32 index) { return ctx.coff.symbol_table.at(index); }
  u32 entry_count() const { return static_cast<u32>(ctx.coff.symbol_table.size()); }
  // A variable handed over by the walk; gives the index of its entry.
  u32 add_symbol(const std::string& name, char kind, u32 value, const std::string& type) {
    u32 index = entry_count();
    DebugTexts& texts = records.texts;
    builder.symbol(DbSym::make(kind, texts.keep(name), texts.keep(type), value));
    return index;
  }
  // A function entered by the walk, its first source line at `address`.
  void enter(const std::string& name, u32 first_line, u32 address) {
    DbFunc f;
    f.name_and_static = records.texts.keep(name).at;
    f.offset = address;
    f.type = records.texts.keep("fV");
    DbFunctionHead head{address, DbLine{address, first_line}, DbLine{address, first_line}};
    builder.enter_function(records.functions[records.functions.add(f)], head);
  }
  u32 get16(u32 index, int offset) { return at(index)[offset] | at(index)[offset + 1] << 8; }
  u32 get32(u32 index, int offset) { return get16(index, offset) | get16(index, offset + 2) << 16; }
  // A bare entry, then its type mapped, each from an error count of 0.
  u32 mapped(const std::string& type) {
    ctx.diag = Diagnostics(ctx.diag.stream());
    u32 index = entry_count();
    ctx.coff.symbol_table.push_back(CoffEntry{});
    map_coff_type(ctx, index, type);
    return index;
  }
  void define(DbStructList& list, const std::string& tag) {
    DbStruct s;
    s.text = records.texts.keep("2 " + tag);
    u32 index = records.structs.add(s);
    if (list.count++ == 0)
      list.first = index;
    else
      records.structs[list.last].next = index;
    list.last = index;
  }
  // The definition of `file` at `position` in its list.
  const DbStruct& definition(const DbFile& file, int position) {
    u32 index = file.structs.first;
    while (position-- > 0) index = records.structs[index].next;
    return records.structs[index];
  }
  void begin(DbFile& file, const char* base_name) {
    builder.begin_file(file, base_name);
    for (const DbStruct& s : records.structs.list(file.structs)) builder.structure(s);
  }
  u32 tag_entry(const DbStruct& s) { return ctx.coff.tags.tag_entry.at(&s); }
  // The tag index in the structure-reference entry behind `index`.
  u32 reference(u32 index) { return get32(index + 1, 0); }
};

TEST_F(CoffTest, TypeCodes) {
  EXPECT_EQ(get16(mapped("pkfkc"), kCoffType), 0x6Cu);     // k qualifies, takes no field
  EXPECT_EQ(get16(mapped("ppppppI"), kCoffType), 0x5554u);  // six derived letters fill the field
  EXPECT_EQ(get16(mapped("A[24:2:3:4:5]I") + 1, 14), 5u);  // the most dimensions the format holds
  EXPECT_EQ(err(), "");
}

// A type text outside the grammar is a counted error naming it, never the
// consistency banner; the entry keeps type 0.
TEST_F(CoffTest, GrammarFaultsAreCountedErrors) {
  const std::pair<const char*, const char*> cases[] = {  // type, text written ahead of the error
      {"Q", "type == Q\n"}, {"", "type == \n"}, {"pk", "type == pk\n"},
      {"A[1:2:3:4:5:6", "warning: COFF debug format does not support more than 4 dimensions in array type\n"},
      {"A10]C", ""}, {"A", ""}, {"A[10]C", ""}, {"A[10:5C", ""}, {"F[5]", ""}, {"F5:3]", ""},
      {"F[5:3", ""}, {"S[tag", ""}, {"IC", ""}, {"F[1:2]x", ""}};
  for (const auto& [type, before] : cases) {
    u32 index = mapped(type);
    EXPECT_EQ(err(), std::string(before) + "!ERROR {linker} invalid COFF type '" + type + "'\n") << type;
    EXPECT_EQ(get16(index, kCoffType), 0u) << type;
  }
}

// Arbitrary strings over the grammar's letters either map or are refused;
// none stops the link or reads past its end (the sanitizer build runs this;
// texts longer than a short string's inline buffer let it see past the end).
TEST_F(CoffTest, ArbitraryTypeStringsMapOrFailCleanly) {
  std::mt19937 random(12);
  for (int n = 0; n < 5000; ++n) {
    std::string type;
    for (int length = random() % 40; length > 0; --length) type += "kpfAS[]:F19VCQ"[random() % 14];
    const std::string exact = type;  // a copy holds no room behind its end
    EXPECT_EQ(stop_status([&] { mapped(exact); }), kNoStop) << type;
  }
}

TEST_F(CoffTest, WrittenRangeOfTheImage) {
  struct Case {
    std::vector<u32> addresses;  // one byte written at each
    u32 range_high, image_size, start, size;
  } cases[] = {
      {{}, 0xFFFF, 0x10000, 0, 0},                    // nothing written: an empty .text
      {{0xC000}, 0x7FFF, 0x10000, 0, 0},              // written only above the text range
      {{0}, 0xFFFF, 0x10000, 0, 4},                   // address 0 alone still counts
      {{0x80}, 0xFFFF, 0x100, 0x80, 4},               // the image ends before the text range
      {{0xFFFF}, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF, 4},  // a huge image is not walked
  };
  for (const Case& c : cases) {
    CapturedLink captured;
    LinkContext& local = captured.ctx;
    create_image(local, 0xFF, c.image_size);
    local.text_range_high = c.range_high;
    for (u32 a : c.addresses) local.image.written.at(a) = 1;
    local.options.debug_level = 1;
    prepare_coff(local);
    EXPECT_EQ(local.coff.text_start, c.start);
    EXPECT_EQ(local.coff.text_size, c.size);
  }
}

TEST_F(CoffTest, LinesTheFormatCannotHoldAreReportedAndDropped) {
  enter("f", 10, 0x100);
  builder.line(DbLine{0x100, 10 + 0xFFFE});
  builder.line(DbLine{0x102, 10 + 0xFFFF});
  EXPECT_EQ(ctx.coff.lineno_table.size(), 6u * 2);
  EXPECT_EQ(err(), "!ERROR {linker} function 'f': relative line number 65536 does not fit in a COFF line entry\n");

  ctx.coff.lineno_table.resize(6 * (kMaxCoffLineEntries - 1));
  builder.line(DbLine{0x100, 11});
  builder.line(DbLine{0x102, 12});
  u32 h = entry_count();
  enter("h", 1, 0x300);
  EXPECT_EQ(ctx.coff.lineno_table.size(), 6u * kMaxCoffLineEntries);
  EXPECT_EQ(get32(h + 1, 8), 0u);  // the function's auxiliary entry: no line entry to point at
  EXPECT_EQ(err(), "!ERROR {linker} COFF line number table is full (65535 entries); further lines are dropped\n");
}

// Long lists are searched through an index: the first definition of a tag
// still decides, within a list and across files.
TEST_F(CoffTest, FirstDefinitionDecidesInLongLists) {
  for (DbFile& file : files)
    for (int i = 0; i < 40; ++i) define(file.structs, "t" + std::to_string(i % 20));
  files.emplace_back();
  begin(files[0], "a.c");
  builder.end_file(files[0]);
  begin(files[1], "b.c");
  u32 in_list = add_symbol("x", 's', 0, "S[t7]");
  builder.end_file(files[1]);
  builder.begin_file(files[2], "c.c");
  u32 across_files = add_symbol("y", 's', 0, "S[t19]");
  builder.end_file(files[2]);
  EXPECT_EQ(reference(in_list), tag_entry(definition(files[1], 7)));
  EXPECT_EQ(reference(across_files), tag_entry(definition(files[0], 19)));
  EXPECT_EQ(err(), "");
}

TEST_F(CoffTest, BackpatchTableHoldsTwoThousandAndFortyEightReferences) {
  begin(files[0], "a.c");
  for (std::size_t i = 0; i < kMaxTagBackpatch; ++i) add_symbol("v", 'e', 0, "S[x]");
  EXPECT_EQ(stop_status([&] { add_symbol("v", 'e', 0, "S[x]"); }), -1);
  EXPECT_EQ(err(),
            "!E [Internal Error] The linker has encountered an internal error.\n"
            " Please contact zeld12-support@example.org. We apologize for any inconvenience.\n"
            " {internal message} COFF backpatch table overflowed\n");
}

}  // namespace
}  // namespace zeld
