// The COFF writer: type strings (derived codes, arrays, bit fields, every
// grammar fault), register values, entry names, .file pieces, the written
// range of the image, line numbers the format cannot hold, and the entry
// order of one source file as the debug walk drives it. The file bytes of
// whole links are pinned end to end.
#include "coff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "context.h"
#include "debug_info.h"
#include "image.h"

namespace zeld {
namespace {

struct CoffTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};

  ~CoffTest() override { std::fclose(err); }

  long read_up_to = 0;

  // What was written to the error stream since the last call.
  std::string errors() {
    std::fflush(err);
    std::fseek(err, read_up_to, SEEK_SET);
    std::string text;
    for (int c; (c = std::fgetc(err)) != EOF;) text += static_cast<char>(c);
    read_up_to = std::ftell(err);
    return text;
  }
  const CoffEntry& at(u32 index) { return ctx.coff.symbol_table.at(index); }
  u32 get16(u32 index, int offset) { return at(index)[offset] | at(index)[offset + 1] << 8; }
  u32 get32(u32 index, int offset) { return get16(index, offset) | get16(index, offset + 2) << 16; }
  int section(u32 index) { return static_cast<std::int16_t>(get16(index, kCoffSection)); }
  std::string name(u32 index) {
    std::string text;
    for (int i = 0; i < 8 && at(index)[i]; ++i) text += static_cast<char>(at(index)[i]);
    return text;
  }
  // A bare entry in `section` with `value`, then its type mapped.
  u32 mapped(const std::string& type, int section = 2, u32 value = 0) {
    CoffEntry entry{};
    entry[kCoffSection] = static_cast<u8>(section);
    entry[kCoffSection + 1] = static_cast<u8>(section >> 8);
    entry[kCoffValue] = static_cast<u8>(value);
    ctx.coff.symbol_table.push_back(entry);
    u32 index = static_cast<u32>(ctx.coff.symbol_table.size() - 1);
    map_coff_type(ctx, index, type);
    return index;
  }
  // Exit status of a step that must stop the link.
  int status_of(const std::function<void()>& step) {
    try {
      step();
    } catch (const LinkAbort& abort) {
      return abort.status;
    }
    return 0;
  }
  std::string check_text(const char* expression) {
    return std::string(
               "!X The compiler has failed an internal consistency check. This may be due\n"
               "  to incorrect input or an internal error. Please report the information\n"
               "  ") +
           expression + " at coff(";
  }
};

TEST_F(CoffTest, TypeFieldsFromDerivedLettersAndBases) {
  struct Case {
    const char* type;
    u32 code;
  } cases[] = {
      {"pC", 0x12},       {"ppI", 0x54},    {"pfI", 0x64}, {"A[20:10]C", 0x32}, {"V", 12},
      {"fV", 0x2C},       {"pkfkc", 0x6C},  {"D", 6},      {"X", 8},           {"l", 15},
      {"S", 3},           {"ppppppI", 0x5554},  // six derived letters fill the field
      {"-", 0},
  };
  for (const Case& c : cases) {
    u32 index = mapped(c.type);
    EXPECT_EQ(get16(index, kCoffType), c.code) << c.type;
  }
  EXPECT_EQ(errors(), "");
}

TEST_F(CoffTest, ArraysWriteTheirDimensionsAndSection) {
  u32 a = mapped("A[20:10]C", -1);
  EXPECT_EQ(at(a)[kCoffNumAux], 1);
  EXPECT_EQ(section(a), 2);  // an array without k sets section 2 whatever it was
  EXPECT_EQ(get16(a + 1, 6), 20u);
  EXPECT_EQ(get16(a + 1, 8), 10u);
  EXPECT_EQ(get16(a + 1, 10), 0u);

  u32 four = mapped("A[24:2:3:4:5]I");
  EXPECT_EQ(errors(), "");
  u32 five = mapped("A[24:2:3:4:5:6]I");
  EXPECT_EQ(errors(), "warning: COFF debug format does not support more than 4 dimensions in array type\n");
  for (u32 index : {four, five}) {
    EXPECT_EQ(get16(index + 1, 6), 24u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(get16(index + 1, 8 + 2 * i), 2u + i);
    EXPECT_EQ(get16(index, kCoffType), 0x34u);
  }

  EXPECT_EQ(section(mapped("kA[10:10]C", 2)), 2);  // the k moves 2 to 1, the array back to 2
  EXPECT_EQ(section(mapped("A[10:10]kC", 2)), 1);
  EXPECT_EQ(section(mapped("kC", 2)), 1);
  EXPECT_EQ(section(mapped("kC", -1)), -1);

  u32 nested = mapped("A[8:2]pA[4:2]C");
  EXPECT_EQ(at(nested)[kCoffNumAux], 2);
  EXPECT_EQ(get16(nested + 1, 6), 8u);
  EXPECT_EQ(get16(nested + 2, 6), 4u);
  EXPECT_EQ(get16(nested, kCoffType), 0x372u);  // 3, then 1, then 3: 110111 << 4 | 2
}

TEST_F(CoffTest, BitFieldsBecomeFieldMembersWithABitOffset) {
  u32 index = mapped("F[5:3]", 0, 3);
  EXPECT_EQ(at(index)[kCoffClass], 18);
  EXPECT_EQ(get32(index, kCoffValue), 3u * 8 + 5);
  EXPECT_EQ(get16(index, kCoffType), 14u);
  EXPECT_EQ(at(index)[kCoffNumAux], 0);
}

TEST_F(CoffTest, GrammarFaultsFailAConsistencyCheck) {
  struct Case {
    const char* type;
    const char* expression;
    const char* before;  // text written ahead of the check
  } cases[] = {
      {"Q", "tymapper[i]", "type == Q\n"},
      {"kQ", "tymapper[i]", "type == Q\n"},
      {"", "tymapper[i]", "type == \n"},
      {"pk", "tymapper[i]", "type == pk\n"},
      {"A10]C", "*p == '['", ""},
      {"A", "*p == '['", ""},
      {"A[10]C", "*p == ':'", ""},
      {"A[10:5C", "*p == ']'", ""},
      {"A[1:2:3:4:5:6", "*p == ']'",
       "warning: COFF debug format does not support more than 4 dimensions in array type\n"},
      {"F[5]", "val == 2", ""},
      {"F5:3]", "val == 2", ""},
      {"F[5:3", "*p == ']'", ""},
      {"S[tag", "*p == ']'", ""},
      {"IC", "*p == 0", ""},
      {"F[1:2]x", "*p == 0", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(status_of([&] { mapped(c.type); }), 1) << c.type;
    std::string text = errors();
    EXPECT_EQ(text.rfind(std::string(c.before) + check_text(c.expression), 0), 0u) << c.type << "\n" << text;
  }
}

// Arbitrary strings over the grammar's letters either map or fail a check;
// none reads past its end.
TEST_F(CoffTest, ArbitraryTypeStringsMapOrFailCleanly) {
  const std::string letters = "kpfAS[]:F19VCQ";
  std::mt19937 random(12);
  for (int n = 0; n < 5000; ++n) {
    std::string type;
    for (int length = random() % 12; length > 0; --length) type += letters[random() % letters.size()];
    int status = status_of([&] { mapped(type); });
    EXPECT_TRUE(status == 0 || status == 1) << type;
  }
}

TEST_F(CoffTest, RegisterNumbersSpreadOverTheValueBySize) {
  struct Case {
    const char* type;
    u32 value;
  } cases[] = {{"L", 0x07060504}, {"l", 0x07060504}, {"C", 0xFFFFFF04}, {"c", 0xFFFFFF04},
               {"I", 0xFFFF0504}, {"pC", 0xFFFF0504}};
  for (const Case& c : cases) {
    coff_add_variable(ctx, "r", 'r', 0x1204, c.type, -1);  // only the low 8 bits name the register
    u32 index = static_cast<u32>(ctx.coff.symbol_table.size() - 1);
    EXPECT_EQ(get32(index, kCoffValue), c.value) << c.type;
    EXPECT_EQ(at(index)[kCoffClass], 17);
  }
  coff_add_variable(ctx, "r", 'r', 0xFE, "L", -1);  // register numbers wrap within the byte
  EXPECT_EQ(get32(static_cast<u32>(ctx.coff.symbol_table.size() - 1), kCoffValue), 0x0100FFFEu);
  coff_add_variable(ctx, "x", 'l', 0xFFFFFFFE, "I", -1);
  EXPECT_EQ(get32(static_cast<u32>(ctx.coff.symbol_table.size() - 1), kCoffValue), 0xFFFFFFFEu);
}

TEST_F(CoffTest, LongNamesGoToTheStringTable) {
  coff_add_variable(ctx, "abcdefgh", 'e', 0, "I", 2);
  EXPECT_EQ(ctx.coff.string_table.size(), 0u);
  EXPECT_EQ(std::string(at(0).begin(), at(0).begin() + 8), "abcdefgh");  // no NUL
  coff_add_variable(ctx, "abcdefghi", 'e', 0, "I", 2);
  coff_add_variable(ctx, "a_longer_name", 'e', 0, "I", 2);
  EXPECT_EQ(get32(1, 0), 0u);
  EXPECT_EQ(get32(1, 4), 4u);
  EXPECT_EQ(get32(2, 4), 14u);
  EXPECT_EQ(ctx.coff.string_table.size(), 28u);
}

TEST_F(CoffTest, FileNamesComeInPiecesOfFourteen) {
  coff_add_file(ctx, std::string(28, 'a'));
  coff_add_file(ctx, std::string(29, 'b'));
  coff_add_file(ctx, "");
  EXPECT_EQ(at(0)[kCoffNumAux], 2);
  EXPECT_EQ(get32(0, kCoffValue), 3u);  // the next .file entry
  EXPECT_EQ(name(3), ".file");
  EXPECT_EQ(at(3)[kCoffNumAux], 3);
  EXPECT_EQ(section(3), -2);
  EXPECT_EQ(at(3)[kCoffClass], 103);
  CoffEntry piece{};
  std::fill_n(piece.begin(), 14, 'a');
  EXPECT_EQ(at(2), piece);
  piece = CoffEntry{'b'};  // the last piece, NUL-padded
  EXPECT_EQ(at(6), piece);
  EXPECT_EQ(get32(3, kCoffValue), 7u);
  EXPECT_EQ(at(7)[kCoffNumAux], 0);
  EXPECT_EQ(ctx.coff.symbol_table.size(), 8u);
}

TEST_F(CoffTest, WrittenRangeOfTheImage) {
  struct Case {
    std::vector<u32> addresses;  // one byte written at each
    u32 range_high;
    u32 image_size;
    u32 start, size;
  } cases[] = {
      {{0xC000, 0xC004}, 0xFFFF, 0x10000, 0xC000, 8},
      {{0xC000, 0xC003}, 0xFFFF, 0x10000, 0xC000, 4},
      {{0xC001}, 0xFFFF, 0x10000, 0xC001, 4},
      {{}, 0xFFFF, 0x10000, 0, 0},                // nothing written: an empty .text
      {{0xC000}, 0x7FFF, 0x10000, 0, 0},          // written only above the text range
      {{0x1000, 0xC000}, 0x7FFF, 0x10000, 0x1000, 4},
      {{0}, 0xFFFF, 0x10000, 0, 4},               // address 0 alone still counts
      {{0x80}, 0xFFFF, 0x100, 0x80, 4},           // the image ends before the text range
      {{0xFFFF}, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF, 4},  // a huge image is not walked
  };
  for (const Case& c : cases) {
    LinkContext local(err, err);
    create_image(local, 0xFF, c.image_size);
    local.text_range_high = c.range_high;
    for (u32 a : c.addresses) local.image.written.at(a) = 1;
    local.options.debug_level = 1;
    prepare_coff(local);
    EXPECT_EQ(local.coff.text_start, c.start);
    EXPECT_EQ(local.coff.text_size, c.size);
    EXPECT_EQ(local.coff.lineno_offset, 128 + c.size);
    EXPECT_TRUE(local.coff.symbol_table.empty());
  }
}

// The worked example: a.c with a file-level structure S, main with a local,
// two source lines and its end, and a global g.
TEST_F(CoffTest, EntriesOfOneSourceFileInWalkOrder) {
  create_image(ctx, 0xFF, 0x10000);
  ctx.image.written.at(0xC010) = ctx.image.written.at(0xC019) = 1;
  ctx.options.debug_level = 1;
  prepare_coff(ctx);

  DbStruct s;
  s.text = "2 S";
  s.tag = "S";
  s.fields.push_back({"0 x I"});
  coff_add_file(ctx, "a.c");
  coff_add_struct_tag(ctx, s);
  coff_begin_function(ctx, "main", 5, 0xC010, "fI", 0x0A);
  coff_add_block(ctx, true, 5, 0xC010);
  coff_add_variable(ctx, "i", 'l', 0xFFFFFFFE, "I", -1);
  coff_add_line(ctx, 1, 0xC010);
  coff_add_line(ctx, 2, 0xC014);
  coff_end_function(ctx, 6);
  coff_add_variable(ctx, "g", 'e', 0x1000, "I", 2);
  resolve_pending_tags(ctx);
  write_coff_file(ctx);  // no stream: only the section entries are added

  struct Expected {
    const char* name;  // none for an auxiliary entry
    int storage_class;
  } entries[] = {{".file", 103}, {}, {"S", 10},    {}, {"x", 8},    {"", 102}, {}, {"main", 2}, {},
                 {".bf", 101},   {}, {".bb", 100}, {}, {"i", 1},    {".ef", 101}, {}, {"g", 3}, {".text", 3},
                 {},             {".bss", 3}, {}};
  ASSERT_EQ(ctx.coff.symbol_table.size(), std::size(entries));
  for (u32 i = 0; i < std::size(entries); ++i) {
    if (!entries[i].name) continue;
    EXPECT_EQ(name(i), entries[i].name) << i;
    EXPECT_EQ(at(i)[kCoffClass], entries[i].storage_class) << i;
  }
  EXPECT_EQ(name(1), "a.c");

  EXPECT_EQ(get32(0, kCoffValue), 19u);  // the .file chain ends at .bss
  EXPECT_EQ(s.tag_index, 2u);
  EXPECT_EQ(get32(3, 12), 7u);  // the tag's end field
  const u8 lines[] = {7, 0, 0, 0, 0, 0, 0x10, 0xC0, 0, 0, 1, 0, 0x14, 0xC0, 0, 0, 2, 0};
  EXPECT_EQ(ctx.coff.lineno_table, std::vector<u8>(lines, lines + sizeof lines));
  EXPECT_EQ(errors(), "");
}

TEST_F(CoffTest, LinesTheFormatCannotHoldAreReportedAndDropped) {
  coff_begin_function(ctx, "f", 10, 0x100, "fV", 4);
  coff_add_line(ctx, 0xFFFF, 0x100);
  coff_add_line(ctx, 0x10000, 0x102);
  coff_add_line(ctx, 0xFFFFFFFF, 0x104);  // before the first line: reported once per function
  coff_begin_function(ctx, "g", 10, 0x200, "fV", 4);
  coff_add_line(ctx, 0, 0x200);
  EXPECT_EQ(ctx.coff.lineno_table.size(), 6u * 3);
  EXPECT_EQ(errors(),
            "!ERROR {linker} function 'f': relative line number 65536 does not fit in a COFF line entry\n"
            "!ERROR {linker} function 'g': relative line number 0 does not fit in a COFF line entry\n");
  EXPECT_EQ(ctx.diag.error_count(), 2);

  ctx.coff.lineno_table.resize(6 * (kMaxCoffLineEntries - 1));
  coff_add_line(ctx, 1, 0x100);
  coff_add_line(ctx, 2, 0x102);
  coff_begin_function(ctx, "h", 1, 0x300, "fV", 4);
  EXPECT_EQ(ctx.coff.lineno_table.size(), 6u * kMaxCoffLineEntries);
  EXPECT_EQ(get32(static_cast<u32>(ctx.coff.symbol_table.size() - 3), 8), 0u);  // no line entry to point at
  EXPECT_EQ(errors(),
            "!ERROR {linker} COFF line number table is full (65535 entries); further lines are dropped\n");
}

TEST_F(CoffTest, FileTakesTheLowBitsOfTheLinkTime) {
  std::string path = ::testing::TempDir() + "/zeld-coff-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".cof";
  ctx.coff_file.reset(std::fopen(path.c_str(), "wb"));
  ctx.link_time = static_cast<std::time_t>(0x123456789LL);  // only the low 32 bits are kept
  ctx.options.debug_level = 1;
  prepare_coff(ctx);  // no image: an empty .text
  write_coff_file(ctx);
  EXPECT_FALSE(ctx.coff_file);

  std::FILE* in = std::fopen(path.c_str(), "rb");
  ASSERT_TRUE(in);
  std::vector<u8> bytes;
  for (int c; (c = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<u8>(c));
  std::fclose(in);
  std::remove(path.c_str());
  ASSERT_EQ(bytes.size(), 128u + 4 * 18);  // no string table without long names
  const u8 head[] = {0x12, 0x0A, 2, 0, 0x89, 0x67, 0x45, 0x23, 128, 0, 0, 0, 4, 0, 0, 0};
  EXPECT_EQ(std::vector<u8>(bytes.begin(), bytes.begin() + 16), std::vector<u8>(head, head + 16));
}

// Structure definitions in the scopes find_struct_tag searches, as the
// debug walk sets them up: slot 0 holds the current file's definitions.
struct CoffTagTest : CoffTest {
  std::deque<DbStruct> pool;
  DbStructList file_structs;

  CoffTagTest() {
    ctx.debug.tag_scope[0] = &file_structs;
    ctx.debug.tag_scope_owner[0] = "src\\a.c";
    coff_add_file(ctx, "a.c");  // entries 0 and 1
  }
  DbStruct& definition(const std::string& text, std::vector<std::string> fields, bool is_struct = true,
                       DbStructList* list = nullptr) {
    DbStruct& s = pool.emplace_back();
    s.text = text;
    s.tag = text.substr(text.rfind(' ') + 1);
    s.is_struct = is_struct;
    for (std::string& f : fields) s.fields.push_back({f});
    (list ? list : &file_structs)->push_back(&s);
    return s;
  }
  u32 last() { return static_cast<u32>(ctx.coff.symbol_table.size() - 1); }
};

TEST_F(CoffTagTest, ReferencesResolveAtOnceOrAtTheEndOfTheFile) {
  DbStruct& a = definition("4 A", {"0 self pS[A]", "2 other S[B]"});
  DbStruct& b = definition("2 B", {"0 w I", "0 c C"}, false);
  DbStruct& anonymous = definition("2 .3", {"0 x I"});
  coff_add_struct_tag(ctx, a);
  EXPECT_EQ(get32(5, 0), 2u);   // self: resolved at once
  EXPECT_EQ(get32(7, 0), 0u);   // other: B is not written yet
  coff_add_struct_tag(ctx, b);
  EXPECT_EQ(at(10)[kCoffClass], 12);  // a union and its member
  EXPECT_EQ(at(12)[kCoffClass], 11);
  coff_add_struct_tag(ctx, anonymous);
  EXPECT_EQ(name(anonymous.tag_index), ".3fake");
  coff_add_variable(ctx, "v", 'e', 0, "S[.3]", 2);
  EXPECT_EQ(get32(last(), 0), anonymous.tag_index);

  resolve_pending_tags(ctx);
  EXPECT_EQ(get32(7, 0), 10u);
  EXPECT_TRUE(ctx.coff.tag_backpatch.empty());
  EXPECT_EQ(errors(), "");
}

TEST_F(CoffTagTest, TagsFoundNowhereAreReportedWithTheSymbolsName) {
  coff_add_variable(ctx, "long_variable", 's', 0, "pS[gone]", 2);
  coff_add_variable(ctx, "abcdefgh", 's', 0, "S[]", 2);
  resolve_pending_tags(ctx);
  EXPECT_EQ(errors(),
            "  File src\\a.c \n"
            "warning: COFF no struct tag 'gone' found for symbol (2) long_variable\n"
            "  File src\\a.c \n"
            "warning: COFF no struct tag '' found for symbol (4) [abcdefgh]\n");
  EXPECT_EQ(get32(3, 0), 0u);
  EXPECT_TRUE(ctx.coff.tag_backpatch.empty());
}

TEST_F(CoffTagTest, BackpatchTableHoldsTwoThousandAndFortyEightReferences) {
  for (std::size_t i = 0; i < kMaxTagBackpatch; ++i) coff_add_variable(ctx, "v", 'e', 0, "S[x]", 2);
  EXPECT_EQ(status_of([&] { coff_add_variable(ctx, "v", 'e', 0, "S[x]", 2); }), -1);
  EXPECT_EQ(errors(),
            "!E [Internal Error] The linker has encountered an internal error.\n"
            " Please contact zeld12-support@example.org. We apologize for any inconvenience.\n"
            " {internal message} COFF backpatch table overflowed\n");
}

}  // namespace
}  // namespace zeld
