#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "areas.h"
#include "context.h"
#include "ranges.h"

namespace zeld {
namespace {

class RangeTest : public ::testing::Test {
 protected:
  RangeTest() : err_(std::tmpfile()), ctx(err_, err_) {}
  ~RangeTest() override { std::fclose(err_); }

  std::string err_text() {
    std::fflush(err_);
    std::rewind(err_);
    std::string text;
    int c;
    while ((c = std::fgetc(err_)) != EOF) text.push_back(static_cast<char>(c));
    return text;
  }

  Area& area(const std::string& name, u8 flags = 0) {
    bool created = false;
    AreaPart* p = ctx.areas.add_part(name, nullptr, created);
    if (created) p->area->flags = flags;
    return *p->area;
  }

  static RangeOption option(const std::string& name, RangeList ranges) { return RangeOption{name, std::move(ranges)}; }

  static std::string ranges_text(const Area& a) { return format_address_ranges(a.address_range.get()); }
  static std::string ranges_text(const RangeOption& o) { return format_address_ranges(&o.ranges); }

  // An area given one range, then cut by one hole entry.
  std::string cut(u32 low, u32 high, RangeList holes) {
    Area& a = area("text");
    add_address_range(a, low, high);
    cut_holes(ctx, "roh", a, option(kFakeHoleName, std::move(holes)));
    return ranges_text(a);
  }

  std::FILE* err_;
  LinkContext ctx;
};

// --- applying -b entries ---------------------------------------------------------

TEST_F(RangeTest, TextEntryGivesTheAreaItsRangesAndTheTextRange) {
  Area& text = area("text");
  ctx.range_options.area_range_options.push_back(option("text", {{0x4000, 0x7FFF}, {0xC000, 0xFEFF}}));
  apply_address_ranges(ctx);
  EXPECT_EQ(ranges_text(text), ":0x4000.0x7fff:0xc000.0xfeff");
  EXPECT_EQ(text.address, 0x4000u);
  EXPECT_TRUE(text.placed);
  EXPECT_EQ(ctx.text_range_low, 0x4000u);
  EXPECT_EQ(ctx.text_range_high, 0xFEFFu);
  EXPECT_EQ(err_text(), "");
}

TEST_F(RangeTest, EntryWithoutAreaOnlySetsTheTextRange) {
  Area& data = area("data");
  ctx.range_options.area_range_options.push_back(option("text", {{0x8000, 0xBFFF}}));
  ctx.range_options.area_range_options.push_back(option("nowhere", {{0x1000, 0x1FFF}}));
  apply_address_ranges(ctx);
  EXPECT_EQ(ctx.text_range_low, 0x8000u);
  EXPECT_EQ(ctx.text_range_high, 0xBFFFu);
  EXPECT_FALSE(data.placed);
  EXPECT_EQ(err_text(), "");
}

TEST_F(RangeTest, EntryWithoutRangesIsSkipped) {
  Area& text = area("text");
  ctx.range_options.area_range_options.push_back(option("text", {}));
  apply_address_ranges(ctx);
  EXPECT_FALSE(text.placed);
  EXPECT_EQ(text.address_range, nullptr);
  EXPECT_EQ(ctx.text_range_low, 0xFFFFFFFFu);
  EXPECT_EQ(ctx.text_range_high, 0xFFFFu);
}

TEST_F(RangeTest, ExtendedCodePageEntryIsCutIntoPages) {
  Area& paged = area("paged", AREA_EXT_CODE);
  ctx.range_options.area_range_options.push_back(option("paged", {{0x10000, 0x17FFF}}));
  apply_address_ranges(ctx);
  EXPECT_EQ(ranges_text(paged), ":0x10000.0x13fff:0x14000.0x17fff");
}

// --- cutting holes ---------------------------------------------------------------

TEST_F(RangeTest, HoleInsideARangeSplitsIt) {
  EXPECT_EQ(cut(0x4000, 0x7FFF, {{0x6000, 0x60FF}}), ":0x4000.0x5fff:0x6100.0x7fff");
}

TEST_F(RangeTest, SeveralHolesInOneRangeAreAllCut) {
  EXPECT_EQ(cut(0x4000, 0x7FFF, {{0x4800, 0x48FF}, {0x6000, 0x60FF}}),
            ":0x4000.0x47ff:0x4900.0x5fff:0x6100.0x7fff");
}

TEST_F(RangeTest, HoleCoveringAllButTenBytesRemovesTheRange) {
  EXPECT_EQ(cut(0x4000, 0x7FFF, {{0x4005, 0x7FF8}}), "");
  // No range left: the area holds no list at all.
  EXPECT_EQ(area("text").address_range, nullptr);
}

TEST_F(RangeTest, HoleNearTheEndDropsTheTail) {
  EXPECT_EQ(cut(0x4000, 0x7FFF, {{0x7FF0, 0x7FFA}}), ":0x4000.0x7fef");
}

TEST_F(RangeTest, HoleAtTheStartLeavesAnEmptyLowerPiece) {
  EXPECT_EQ(cut(0x4000, 0x7FFF, {{0x4000, 0x40FF}}), ":0x4000.0x3fff:0x4100.0x7fff");
}

TEST_F(RangeTest, HoleAtAddressZeroDoesNotWrap) {
  EXPECT_EQ(cut(0, 0xFFFF, {{0, 0xFF}}), ":0x1.0:0x100.0xffff");
  RangeList& left = *area("text").address_range;
  EXPECT_EQ(allocate_from_ranges(ctx, &left, 0, "text"), 0x100u);
}

TEST_F(RangeTest, HoleOutsideTheRangeCutsNothing) {
  EXPECT_EQ(cut(0x4000, 0x7FFF, {{0x1000, 0x10FF}, {0x9000, 0x90FF}}), ":0x4000.0x7fff");
}

TEST_F(RangeTest, HoleAtTheLastAddressTakesIt) {
  EXPECT_EQ(cut(0x4000, 0x7FFF, {{0x7FFF, 0x7FFF}}), ":0x4000.0x7ffe");
}

TEST_F(RangeTest, HoleNearTheTopOfTheSpaceDoesNotWrap) {
  EXPECT_EQ(cut(0xFFFF0000, 0xFFFFFFFF, {{0xFFFF8000, 0xFFFFFFFF}}), ":0xffff0000.0xffff7fff");
}



// --- parsing option texts ---------------------------------------------------------

TEST_F(RangeTest, ParsesRangesWithColonsOrEquals) {
  parse_address_ranges(ctx, "text:0x4000.0x7FFF:0xC000.0xFEFF", RANGE_AREA);
  parse_address_ranges(ctx, "data=0x1000", RANGE_AREA);
  parse_address_ranges(ctx, "bss=0x800.0x8FF=0x900.0x9FF", RANGE_AREA);
  const auto& list = ctx.range_options.area_range_options;
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, "text");
  EXPECT_EQ(ranges_text(list[0]), ":0x4000.0x7fff:0xc000.0xfeff");
  EXPECT_EQ(list[1].name, "data");
  EXPECT_EQ(ranges_text(list[1]), ":0x1000.0xffff");
  EXPECT_EQ(ranges_text(list[2]), ":0x800.0x8ff:0x900.0x9ff");
  EXPECT_EQ(err_text(), "");
}

TEST_F(RangeTest, LaterOptionReplacesTheRangesOfItsName) {
  parse_address_ranges(ctx, "text:0x4000.0x7FFF", RANGE_AREA);
  parse_address_ranges(ctx, "data:0x1000.0x1FFF", RANGE_AREA);
  parse_address_ranges(ctx, "text:0xC000.0xFEFF", RANGE_AREA);
  const auto& list = ctx.range_options.area_range_options;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "text");
  EXPECT_EQ(ranges_text(list[0]), ":0xc000.0xfeff");
}

TEST_F(RangeTest, HolesWithAndWithoutAName) {
  parse_address_ranges(ctx, ":0x1000.0x10FF:0x6000.0x60FF", RANGE_ROM_HOLE);
  parse_address_ranges(ctx, "vector:0xFF80.0xFFFF", RANGE_ROM_HOLE);
  parse_address_ranges(ctx, ":0x2000.0x20FF", RANGE_RAM_HOLE);
  const RangeOptions& o = ctx.range_options;
  ASSERT_EQ(o.rom_holes.size(), 2u);
  EXPECT_EQ(o.rom_holes[0].name, "<fake>");
  EXPECT_EQ(ranges_text(o.rom_holes[0]), ":0x1000.0x10ff:0x6000.0x60ff");
  EXPECT_EQ(o.rom_holes[1].name, "vector");
  ASSERT_EQ(o.area_range_options.size(), 1u);
  EXPECT_EQ(o.area_range_options[0].name, "vector");
  EXPECT_EQ(ranges_text(o.area_range_options[0]), ":0xff80.0xffff");
  ASSERT_EQ(o.ram_holes.size(), 1u);
  EXPECT_EQ(ranges_text(o.ram_holes[0]), ":0x2000.0x20ff");
  EXPECT_EQ(err_text(), "");
}

TEST_F(RangeTest, NameWithoutRanges) {
  parse_address_ranges(ctx, "text", RANGE_AREA);
  parse_address_ranges(ctx, "data-1", RANGE_AREA);
  EXPECT_EQ(err_text(),
            "!ERROR {linker} No '=' or ':' in expression \"text\"\n"
            "!ERROR {linker} No '=' or ':' in expression \"data-1\"\n"
            "!ERROR {linker} Unrecognized input: '-' data-{??1}\n");
  ASSERT_EQ(ctx.range_options.area_range_options.size(), 2u);
  EXPECT_TRUE(ctx.range_options.area_range_options[0].ranges.empty());
}

TEST_F(RangeTest, BadRangesAreReportedAndKept) {
  parse_address_ranges(ctx, "text:0x8000.0x7000", RANGE_AREA);
  parse_address_ranges(ctx, "data:0xC000.0xFFFF:0x4000.0x7FFF", RANGE_AREA);
  parse_address_ranges(ctx, "bss:0x1000.0x1FFF:0x1FFF.0x2FFF", RANGE_AREA);
  EXPECT_EQ(err_text(),
            "!ERROR {linker} invalid address range:0x8000.0x7000\n"
            "!ERROR {linker} address ranges \"data:0xC000.0xFFFF:0x4000.0x7FFF\" must be in increasing "
            "non-overlapping order\n");
  const auto& list = ctx.range_options.area_range_options;
  EXPECT_EQ(ranges_text(list[0]), ":0x8000.0x7000");
  EXPECT_EQ(ranges_text(list[1]), ":0xc000.0xffff:0x4000.0x7fff");
  EXPECT_EQ(ranges_text(list[2]), ":0x1000.0x1fff:0x1fff.0x2fff");
}


TEST_F(RangeTest, NamedHoleReportsTwiceThroughBothLists) {
  parse_address_ranges(ctx, "vector:0xFFFF.0xFF80", RANGE_ROM_HOLE);
  std::string one = "!ERROR {linker} invalid address range:0xffff.0xff80\n";
  EXPECT_EQ(err_text(), one + one);
}

}  // namespace
}  // namespace zeld
