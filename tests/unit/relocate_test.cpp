// T, R and P records: the field arithmetic in both byte orders, the edges of
// the relocation modes that the end-to-end links do not reach (range limits,
// low-byte-first paged fields, XGATE wrap), the page state, and the refusals
// of malformed records.
#include "relocate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

struct RelocateTest : ::testing::Test {
  std::FILE* err = std::tmpfile();
  LinkContext ctx{err, err};
  Header* mod = nullptr;
  std::string line;

  RelocateTest() {
    ctx.output_file.reset(std::tmpfile());
    ctx.lex.radix = 16;
    ctx.lex.high_byte_first = true;
    create_image(ctx, 0xFF, 0x10000);
    ctx.text_range_high = 0;  // records here rewrite addresses at will; no double-write check
    mod = module("main.c", 4, 4);
  }
  ~RelocateTest() override {
    ctx.run_cleanup();
    std::fclose(err);
  }

  Header* module(const char* name, u32 areas, u32 symbols) {
    Header& h = ctx.reader.headers.emplace_back();
    h.index = ctx.reader.headers.size() - 1;
    h.name = name;
    h.area_capacity = areas;
    h.symbol_capacity = symbols;
    clear_page_state(ctx);
    return &h;
  }
  // Next area slot of the module: a part of `area` at `address`.
  AreaPart* part(const char* area, u32 address, u8 flags = 0, Header* h = nullptr) {
    h = h ? h : mod;
    bool created = false;
    AreaPart* p = ctx.areas.add_part(area, h, created);
    if (created) {
      p->area->flags = flags;
      p->area->address = address;
    }
    p->address = address;
    h->area_parts.push_back(p);
    default_page_state(ctx);
    return p;
  }
  // Next symbol slot: an absolute symbol at `address`.
  void symbol(const char* name, u32 address) {
    Symbol* s = ctx.symbols.insert(name);
    s->flags = SYM_DEFINED | SYM_ABSOLUTE;
    s->value = address;
    mod->symbols.push_back(s);
  }
  // A T, R or P line as pass 0 parses it and pass 1 applies it.
  void feed(int letter, const std::string& text, Header* h = nullptr) {
    line = text;
    ctx.lex.reset(line);
    RecordEntry entry;
    parse_record_line(ctx.lex, letter, entry);
    ctx.reloc.format = ModuleFormat{ctx.lex.high_byte_first, ctx.lex.xgate_module};
    relocate_entry(ctx, entry, h ? h : mod);
  }
  void link(const std::string& t, const std::string& r) {
    feed('T', t);
    feed('R', r);
  }
  std::string errors() { return read_all(err); }
  std::string records() { return read_all(ctx.output_file.get()); }
  // Output values of the current record as hex pairs.
  std::string values() {
    std::string s;
    const Record& rec = ctx.reloc.record;
    for (int i = 0; i < rec.count; ++i)
      if (rec.kept[i]) s += strprintf("%s%02X", s.empty() ? "" : " ", rec.values[i] & 0xFF);
    return s;
  }
};

TEST(PageWindowAddress, PageInBits16To23WindowAddressBelow) {
  EXPECT_EQ(page_window_address(0x0FC123), 0x3F8123u);
  EXPECT_EQ(page_window_address(0x07C123), 0x1F8123u);
  EXPECT_EQ(page_window_address(0), 0x008000u);
}

TEST_F(RelocateTest, IndexesWordAndByteFieldsInBothByteOrders) {
  ctx.reloc.format.high_byte_first = true;
  Record& rec = ctx.reloc.record;
  load_record(rec, 0, {0x00, 0x05, 0x00, 0x7F});
  EXPECT_EQ(relocate_word(ctx, 0x1200, 2), 0x1205u);
  EXPECT_EQ(relocate_byte(ctx, 0x0180, 4, false), 0x01FFu);  // the whole sum stays in the record
  EXPECT_EQ(rec.values[5], 0x01FFu);
  EXPECT_EQ(values(), "00 00 12 05 FF");
  EXPECT_EQ(rec.kept[4], 0);

  ctx.reloc.format.high_byte_first = false;
  load_record(rec, 0, {0x05, 0x00, 0x7F, 0x00});
  EXPECT_EQ(relocate_word(ctx, 0x1200, 2), 0x1205u);
  EXPECT_EQ(relocate_byte(ctx, 0x0180, 4, false), 0x01FFu);
  EXPECT_EQ(values(), "00 00 05 12 FF");  // the low value stays, the high one is dropped
  EXPECT_EQ(rec.kept[5], 0);
  // The high byte of a byte field.
  rec.values[2] = 0x34;
  rec.values[3] = 0x12;
  EXPECT_EQ(relocate_byte(ctx, 0x0100, 2, true), 0x13u);
  EXPECT_EQ(rec.values[2], 0x13u);
  EXPECT_EQ(rec.kept[3], 0);
}

TEST_F(RelocateTest, PcRelativeByteRange) {
  part("text", 0x4000);
  symbol("_far", 0x4081);
  symbol("_edge", 0x4080);
  symbol("_back", 0x3F81);
  link("00 00 00 00", "00 00 00 00 07 02 00 01");
  EXPECT_EQ(values(), "40 00 7F");
  link("00 00 00 00", "00 00 00 00 07 02 00 02");
  EXPECT_EQ(values(), "40 00 80");
  EXPECT_EQ(errors(), "");
  link("00 00 00 00", "00 00 00 00 07 02 00 00");
  EXPECT_EQ(values(), "40 00 80");
  EXPECT_EQ(errors(), "!E main.c(0): {linker} PC relative offset larger than 8 bits for symbol '_far'\n");
}

TEST_F(RelocateTest, DirectPageFieldsAndPageRecords) {
  part("text", 0x4000);
  part("page", 0x1000);
  symbol("_v", 0x1085);
  // The page: area 1 at offset 0x80, off a boundary: reported, and in force all the same.
  feed('T', "00 00 00 01 00 80");
  feed('P', "00 00 00 00");
  EXPECT_EQ(errors(), "!ERROR {linker} Page Definition Boundary Error in 'main.c' area 'page'\n");
  link("00 00 00 00", "00 00 00 00 42 02 00 00");
  EXPECT_EQ(values(), "40 00 00 05");
  // A P item adds the address of area 1 to the offset 0x0100.
  feed('T', "00 00 00 01 01 00");
  feed('P', "00 00 00 00 00 04 00 01");
  EXPECT_EQ(ctx.reloc.page_offset, 0x1100u);
  EXPECT_EQ(ctx.reloc.page_area->name, "page");
}

TEST_F(RelocateTest, DefaultPageIsTheModulesFirstArea) {
  part("data", 0x0200);
  part("text", 0x4000);
  symbol("_v", 0x0210);
  link("00 00 00 00", "00 00 00 01 43 02 00 00");
  EXPECT_EQ(values(), "40 00 10");
}

TEST_F(RelocateTest, PagedFieldsAreHighByteFirstWhateverTheModulesOrder) {
  part("text", 0x4000);
  part("code", 0x0F8000, AREA_EXT_CODE);
  symbol("_f", 0x0F8000);
  ctx.lex.high_byte_first = false;
  link("00 40 00 00", "00 00 00 00 82 02 00 00");
  EXPECT_EQ(values(), "00 80 80 00");
}

TEST_F(RelocateTest, XgateBranchFieldWrapsAndKeepsTheOpcodeBits) {
  ctx.lex.xgate_module = true;
  part("text", 0x4000);
  symbol("_back", 0x3FFC);  // 6 bytes before the address after the instruction
  link("00 00 3D FF", "00 00 00 00 06 02 00 00");
  EXPECT_EQ(values(), "40 00 3D FC");
  EXPECT_EQ(errors(), "");
}

TEST_F(RelocateTest, XgateWordWithHighByteSelectionIsACountedError) {
  ctx.lex.xgate_module = true;
  part("text", 0x4000);
  feed('T', "00 00 12 34");
  feed('R', "00 00 00 00 40 02 00 00");
  EXPECT_EQ(errors(), "!E main.c(0): {linker} R mode 0x40: a word field cannot take the high byte of an XGATE address\n");
  EXPECT_EQ(records(), "S1054000123474\n");  // the field as the object gives it
}

// Items that cannot be relocated are counted errors and drop their record.
// A word that runs past the last value of its record is shown end to end.
TEST_F(RelocateTest, ItemsThatCannotBeRelocatedDropTheRecord) {
  part("text", 0x4000);
  symbol("_a", 0x1234);
  link("00 00 00 00", "00 00 00 00 02 02 00 01");  // a symbol slot below the capacity that no S line filled
  link("00 00 00 00", "00 00 00 00 00 02 00 03");  // the same for an area slot
  link("00 00 00 00 00", "00 00 00 00 00 01 00 00");  // the load address is no data
  link("00 00 00 00 00", "00 00 00 00 00 FFFFFFFF 00 00");
  EXPECT_EQ(errors(),
            "!E main.c(0): {linker} R symbol error\n"
            "!E main.c(0): {linker} R area 0x3 not defined in module 'main.c'\n"
            "!E main.c(0): {linker} R item position 1 outside the record\n"
            "!E main.c(0): {linker} R item position 4294967295 outside the record\n");
  EXPECT_EQ(records(), "");
  EXPECT_EQ(ctx.image.written[0x4000], 0);
}

TEST_F(RelocateTest, AreaIndexBeyondTheCapacityIsInternal) {
  part("text", 0);
  feed('T', "00 00 01");
  EXPECT_THROW(feed('R', "00 00 00 04"), LinkAbort);
  EXPECT_NE(errors().find(" {internal message} R0x4 max areas is 4\n"), std::string::npos);
  feed('T', "00 00 00 00");
  EXPECT_THROW(feed('R', "00 00 00 00 00 02 00 09"), LinkAbort);
  EXPECT_NE(errors().find(" {internal message} module name: 'main.c' relocation mode 0 area 0x9, max 4\n"),
            std::string::npos);
}

// An input error still relocates the record; the text of the previous
// module does not carry over.
TEST_F(RelocateTest, RecordsWithoutTheirText) {
  part("text", 0x4000);
  feed('P', "00 00 00 00");
  link("00 00 01", "01 00 00");  // the 00 after 01 is taken as the first index byte
  Header* next = module("next.c", 1, 0);
  part("text", 0x4001, 0, next);
  feed('R', "00 00 00 00", next);
  EXPECT_EQ(errors(),
            "!ERROR {linker} P record without a T record\n"
            "!ERROR {linker} R input error\n"
            "!E main.c(0): {linker} R record without a T record\n");
  EXPECT_EQ(records(), "S104400001BA\n");
}

TEST_F(RelocateTest, PageRecordErrors) {
  part("text", 0x4000);
  symbol("_s", 0x100);
  feed('T', "00 00 00 00 00 00");
  feed('P', "01 00 00");
  feed('P', "00 00 00 04");
  feed('P', "00 00 00 00 00 04 00 03");
  feed('P', "00 00 00 00 02 04 00 01");
  feed('T', "00 00 00 05 00 00");
  feed('P', "00 00 00 00");
  feed('T', "00 00 00 00");
  feed('P', "00 00 00 00");
  EXPECT_EQ(errors(),
            "!ERROR {linker} P input error\n"
            "!ERROR {linker} P area error\n"
            "!ERROR {linker} P area error\n"
            "!ERROR {linker} P symbol error\n"
            "!ERROR {linker} P area error\n"
            "!ERROR {linker} P item position 4 outside the record\n");
  // The first P record, after its input error, still set the page.
  EXPECT_EQ(ctx.reloc.page_area->name, "text");
}

}  // namespace
}  // namespace zeld
