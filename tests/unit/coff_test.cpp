// The COFF writer where the end-to-end links do not reach: type codes and
// array sections, every grammar fault, register values by size, the edges of
// long names and .file pieces, the written range of the image, line numbers
// the format cannot hold, the time stamp, and structure tags: their lookup
// through the scopes the walk opens, found nowhere, or past the backpatch
// limit. The file bytes of whole links, the worked example among them, are
// pinned end to end.
#include "coff.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
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
  CoffDebugBuilder builder{ctx};
  std::deque<DbFunc> functions;
  std::deque<DbLine> lines;

  const CoffEntry& at(u32 index) { return ctx.coff.symbol_table.at(index); }
  u32 entry_count() const { return static_cast<u32>(ctx.coff.symbol_table.size()); }
  // A variable handed over by the walk; gives the index of its entry.
  u32 add_symbol(const std::string& name, char kind, u32 value, const std::string& type) {
    DbSym sym;
    sym.name = name;
    sym.kind = kind;
    sym.value = value;
    sym.type = type;
    u32 index = entry_count();
    builder.symbol(sym);
    return index;
  }
  // A function entered by the walk, its first source line at `address`.
  DbFunc& enter(const std::string& name, u32 first_line, u32 address, const std::string& type = "fV") {
    DbLine& first = lines.emplace_back(DbLine{nullptr, address, first_line});
    DbFunc& f = functions.emplace_back();
    f.name = name;
    f.address = address;
    f.type = type;
    f.dbline_head = f.dbline_last = &first;
    builder.enter_function(f, &first);
    return f;
  }
  void line(u32 number, u32 address) { builder.line(DbLine{nullptr, address, number}); }
  u32 get16(u32 index, int offset) { return at(index)[offset] | at(index)[offset + 1] << 8; }
  u32 get32(u32 index, int offset) { return get16(index, offset) | get16(index, offset + 2) << 16; }
  int section(u32 index) { return static_cast<std::int16_t>(get16(index, kCoffSection)); }
  // A bare entry in `section`, then its type mapped.
  u32 mapped(const std::string& type, int section = 2) {
    CoffEntry entry{};
    entry[kCoffSection] = static_cast<u8>(section);
    entry[kCoffSection + 1] = static_cast<u8>(section >> 8);
    ctx.coff.symbol_table.push_back(entry);
    u32 index = static_cast<u32>(ctx.coff.symbol_table.size() - 1);
    map_coff_type(ctx, index, type);
    return index;
  }
};

TEST_F(CoffTest, TypeFieldsFromDerivedLettersAndBases) {
  struct Case {
    const char* type;
    u32 code;
  } cases[] = {
      {"pC", 0x12}, {"ppI", 0x54}, {"pfI", 0x64}, {"V", 12}, {"pkfkc", 0x6C}, {"D", 6}, {"X", 8}, {"l", 15},
      {"S", 3},     {"-", 0},      {"ppppppI", 0x5554},  // six derived letters fill the field
  };
  for (const Case& c : cases) {
    ctx.diag = Diagnostics(ctx.diag.stream());  // each case from a count of 0
    u32 index = mapped(c.type);
    EXPECT_EQ(get16(index, kCoffType), c.code) << c.type;
  }
  EXPECT_EQ(err(), "");
}

TEST_F(CoffTest, ArraysWriteTheirDimensionsAndSection) {
  EXPECT_EQ(section(mapped("A[20:10]C", -1)), 2);  // an array without k sets section 2 whatever it was
  EXPECT_EQ(section(mapped("kA[10:10]C", 2)), 2);  // the k moves 2 to 1, the array back to 2
  EXPECT_EQ(section(mapped("A[10:10]kC", 2)), 1);
  EXPECT_EQ(section(mapped("kC", 2)), 1);
  EXPECT_EQ(section(mapped("kC", -1)), -1);
  u32 four = mapped("A[24:2:3:4:5]I");  // the most dimensions the format holds: no warning
  EXPECT_EQ(get16(four + 1, 14), 5u);
  EXPECT_EQ(err(), "");

  u32 nested = mapped("A[8:2]pA[4:2]C");
  EXPECT_EQ(at(nested)[kCoffNumAux], 2);
  EXPECT_EQ(get16(nested + 1, 6), 8u);
  EXPECT_EQ(get16(nested + 2, 6), 4u);
  EXPECT_EQ(get16(nested, kCoffType), 0x372u);  // 3, then 1, then 3: 110111 << 4 | 2
}

// A type text outside the grammar is a counted error naming it, never the
// consistency banner; the entry keeps type 0.
TEST_F(CoffTest, GrammarFaultsAreCountedErrors) {
  struct Case {
    const char* type;
    const char* before;  // text written ahead of the error
  } cases[] = {
      {"Q", "type == Q\n"},
      {"", "type == \n"},
      {"pk", "type == pk\n"},
      {"A10]C", ""},
      {"A", ""},
      {"A[10]C", ""},
      {"A[10:5C", ""},
      {"A[1:2:3:4:5:6", "warning: COFF debug format does not support more than 4 dimensions in array type\n"},
      {"F[5]", ""},
      {"F5:3]", ""},
      {"F[5:3", ""},
      {"S[tag", ""},
      {"IC", ""},
      {"F[1:2]x", ""},
  };
  for (const Case& c : cases) {
    ctx.diag = Diagnostics(ctx.diag.stream());  // each case from a count of 0
    u32 index = mapped(c.type);
    EXPECT_EQ(err(), std::string(c.before) + "!ERROR {linker} invalid COFF type '" + c.type + "'\n") << c.type;
    EXPECT_EQ(get16(index, kCoffType), 0u) << c.type;
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
    ctx.diag = Diagnostics(ctx.diag.stream());
    const std::string exact = type;  // a copy holds no room behind its end
    EXPECT_EQ(stop_status([&] { mapped(exact); }), kNoStop) << type;
  }
}

// Only the low 8 bits name the register, and the numbers wrap within the byte.
TEST_F(CoffTest, RegisterNumbersSpreadOverTheValueBySize) {
  struct Case {
    const char* type;
    u32 number, value;
  } cases[] = {{"l", 0x1204, 0x07060504}, {"C", 0x1204, 0xFFFFFF04}, {"c", 0x1204, 0xFFFFFF04},
               {"I", 0x1204, 0xFFFF0504}, {"pC", 0x1204, 0xFFFF0504}, {"L", 0xFE, 0x0100FFFE}};
  for (const Case& c : cases) {
    u32 index = add_symbol("r", 'r', c.number, c.type);
    EXPECT_EQ(get32(index, kCoffValue), c.value) << c.type;
    EXPECT_EQ(section(index), -1) << c.type;
  }
}

TEST_F(CoffTest, NamesOfEightCharactersStayInTheEntry) {
  add_symbol("abcdefgh", 'e', 0, "I");  // no NUL
  add_symbol("abcdefghi", 'e', 0, "I");
  add_symbol("a_longer_name", 'e', 0, "I");
  EXPECT_EQ(std::string(at(0).begin(), at(0).begin() + 8), "abcdefgh");
  EXPECT_EQ(get32(2, kCoffNameOffset), 14u);  // after the size word and "abcdefghi"
  EXPECT_EQ(ctx.coff.string_table.size(), 28u);
}

TEST_F(CoffTest, FileNamesComeInPiecesOfFourteen) {
  DbFile file;
  builder.begin_file(file, std::string(28, 'a'));
  builder.begin_file(file, "");
  EXPECT_EQ(at(0)[kCoffNumAux], 2);
  EXPECT_EQ(get32(0, kCoffValue), 3u);  // the next .file entry
  EXPECT_EQ(at(3)[kCoffNumAux], 0);
  EXPECT_EQ(ctx.coff.symbol_table.size(), 4u);
}

TEST_F(CoffTest, WrittenRangeOfTheImage) {
  struct Case {
    std::vector<u32> addresses;  // one byte written at each
    u32 range_high;
    u32 image_size;
    u32 start, size;
  } cases[] = {
      {{0xC001}, 0xFFFF, 0x10000, 0xC001, 4},
      {{}, 0xFFFF, 0x10000, 0, 0},                // nothing written: an empty .text
      {{0xC000}, 0x7FFF, 0x10000, 0, 0},          // written only above the text range
      {{0x1000, 0xC000}, 0x7FFF, 0x10000, 0x1000, 4},
      {{0}, 0xFFFF, 0x10000, 0, 4},               // address 0 alone still counts
      {{0x80}, 0xFFFF, 0x100, 0x80, 4},           // the image ends before the text range
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
    EXPECT_EQ(local.coff.lineno_offset, 128 + c.size);
  }
}

TEST_F(CoffTest, LinesTheFormatCannotHoldAreReportedAndDropped) {
  enter("f", 10, 0x100);
  line(10 + 0xFFFE, 0x100);
  line(10 + 0xFFFF, 0x102);
  line(9, 0x104);  // before the first line: reported once per function
  enter("g", 10, 0x200);
  line(9, 0x200);
  EXPECT_EQ(ctx.coff.lineno_table.size(), 6u * 3);
  EXPECT_EQ(err(),
            "!ERROR {linker} function 'f': relative line number 65536 does not fit in a COFF line entry\n"
            "!ERROR {linker} function 'g': relative line number 0 does not fit in a COFF line entry\n");
  EXPECT_EQ(ctx.diag.error_count(), 2);

  ctx.coff.lineno_table.resize(6 * (kMaxCoffLineEntries - 1));
  line(10, 0x100);
  line(11, 0x102);
  u32 h = entry_count();
  enter("h", 1, 0x300);
  EXPECT_EQ(ctx.coff.lineno_table.size(), 6u * kMaxCoffLineEntries);
  EXPECT_EQ(get32(h + 1, 8), 0u);  // the function's auxiliary entry: no line entry to point at
  EXPECT_EQ(err(),
            "!ERROR {linker} COFF line number table is full (65535 entries); further lines are dropped\n");
}

TEST_F(CoffTest, FileTakesTheLowBitsOfTheLinkTime) {
  TestFolder folder("coff");
  std::string path = folder.path("time.cof");
  ctx.coff_file.reset(std::fopen(path.c_str(), "wb"));
  ctx.link_time = static_cast<std::time_t>(0x123456789LL);  // only the low 32 bits are kept
  ctx.options.debug_level = 1;
  prepare_coff(ctx);  // no image: an empty .text
  write_coff_file(ctx);
  ctx.coff_file.finish(ctx.diag);

  std::FILE* in = std::fopen(path.c_str(), "rb");
  ASSERT_TRUE(in);
  std::string bytes = read_all(in);
  std::fclose(in);
  ASSERT_EQ(bytes.size(), 128u + 4 * 18);  // no string table without long names
  EXPECT_EQ(bytes.substr(0, 16), std::string("\x12\x0A\x02\0\x89\x67\x45\x23\x80\0\0\0\x04\0\0\0", 16));
}

// Source files as the walk hands them over: a.c opened, its definitions
// in file scope.
struct CoffTagTest : CoffTest {
  std::deque<DbFile> files;
  std::deque<DbStruct> definitions;

  CoffTagTest() {
    files.emplace_back().name = "src\\a.c";
    files.emplace_back().name = "b.c";
  }
  DbStruct& define(DbStructList& list, const std::string& tag) {
    DbStruct& s = definitions.emplace_back();
    s.text = "2 " + tag;
    s.tag = tag;
    list.push_back(&s);
    return s;
  }
  void begin(DbFile& file, const char* base_name) {
    builder.begin_file(file, base_name);
    for (const DbStruct* s : file.structs) builder.structure(*s);
  }
  u32 tag_entry(const DbStruct& s) { return ctx.coff.tags.tag_entry.at(&s); }
  // The tag index in the structure-reference entry behind `index`.
  u32 reference(u32 index) { return get32(index + 1, 0); }
};

TEST_F(CoffTagTest, TagsFoundNowhereAreReportedWithTheSymbolsName) {
  builder.begin_walk(files);
  begin(files[0], "a.c");  // entries 0 and 1
  add_symbol("long_variable", 's', 0, "pS[gone]");
  add_symbol("abcdefgh", 's', 0, "S[]");
  builder.end_file(files[0]);
  EXPECT_EQ(err(),
            "  File src\\a.c \n"
            "warning: COFF no struct tag 'gone' found for symbol (2) long_variable\n"
            "  File src\\a.c \n"
            "warning: COFF no struct tag '' found for symbol (4) [abcdefgh]\n");
  EXPECT_EQ(get32(3, 0), 0u);
}

// The function's definitions first, then the file's (the first definition
// of a tag decides), then at the end of the file every file's: a tag of a
// later file is filled in once the walk is over.
TEST_F(CoffTagTest, TagsResolveThroughFunctionFileAndEveryFile) {
  DbStruct& file_s = define(files[0].structs, "s");
  define(files[0].structs, "s");
  DbStruct& file_t = define(files[0].structs, "t");
  DbStruct& later = define(files[1].structs, "later");
  builder.begin_walk(files);
  begin(files[0], "a.c");
  DbFunc& f = enter("f", 1, 0x100);
  DbStruct& local_s = define(f.structs, "s");
  builder.structure(local_s);
  u32 in_function = add_symbol("x", 'l', 0, "S[s]");
  u32 in_file = add_symbol("y", 'l', 0, "S[t]");
  u32 in_later_file = add_symbol("z", 'l', 0, "pS[later]");
  builder.leave_function(f);
  u32 outside_function = add_symbol("w", 's', 0, "S[s]");
  builder.end_file(files[0]);
  begin(files[1], "b.c");
  builder.end_file(files[1]);
  EXPECT_EQ(reference(in_later_file), 0u);
  ctx.options.debug_level = 1;
  write_coff_file(ctx);

  EXPECT_EQ(reference(in_function), tag_entry(local_s));
  EXPECT_EQ(reference(in_file), tag_entry(file_t));
  EXPECT_EQ(reference(outside_function), tag_entry(file_s));
  EXPECT_EQ(reference(in_later_file), tag_entry(later));
  EXPECT_EQ(err(), "");
}

// A function's type names a structure of the file, never one defined
// inside the function before it.
TEST_F(CoffTagTest, FunctionTypesLookInTheFileScope) {
  DbStruct& file_s = define(files[0].structs, "s");
  builder.begin_walk(files);
  begin(files[0], "a.c");
  DbFunc& f = enter("f", 1, 0x100);
  builder.structure(define(f.structs, "s"));
  builder.leave_function(f);
  u32 g = entry_count();
  enter("g", 1, 0x200, "fS[s]");
  EXPECT_EQ(reference(g), tag_entry(file_s));
}

// Long lists are searched through an index: the first definition of a tag
// still decides, within a list and across files.
TEST_F(CoffTagTest, FirstDefinitionDecidesInLongLists) {
  for (DbFile& file : files)
    for (int i = 0; i < 40; ++i) define(file.structs, "t" + std::to_string(i % 20));
  files.emplace_back().name = "c.c";
  builder.begin_walk(files);
  begin(files[0], "a.c");
  builder.end_file(files[0]);
  begin(files[1], "b.c");
  u32 in_list = add_symbol("x", 's', 0, "S[t7]");
  builder.end_file(files[1]);
  builder.begin_file(files[2], "c.c");
  u32 across_files = add_symbol("y", 's', 0, "S[t19]");
  builder.end_file(files[2]);
  EXPECT_EQ(reference(in_list), tag_entry(*files[1].structs[7]));
  EXPECT_EQ(reference(across_files), tag_entry(*files[0].structs[19]));
  EXPECT_EQ(err(), "");
}

TEST_F(CoffTagTest, BackpatchTableHoldsTwoThousandAndFortyEightReferences) {
  builder.begin_walk(files);
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
