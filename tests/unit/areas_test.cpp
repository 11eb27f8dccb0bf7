// Areas: ranges cut at page boundaries, first fit at its edges (a used-up
// range, an empty list, the top of the space) and, with overlays taking
// spans between the parts, against a plain walk of the list for random
// lists; a shared list changed by an overlay and by the alignment of text
// between parts, a pre-existing end symbol taken over by placement, the
// text range for the first unplaced area, and absolute areas, also placed
// by an option. A lines and plain placement are pinned by the end-to-end
// cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "areas.h"
#include "context.h"
#include "symbols.h"
#include "test_support.h"

namespace zeld {
namespace {

class AreaTest : public LinkTest {
 protected:
  AreaPart* part(const std::string& name, u32 size, u8 flags = 0) {
    bool created = false;
    AreaPart* p = ctx.areas.add_part(name, &module_, created);
    if (created) p->area->flags = flags;
    p->size = size;
    return p;
  }

  Area& area(const std::string& name) { return *ctx.areas.find(name); }

  std::string ranges_of(const std::string& name) { return format_address_ranges(area(name).address_range.get()); }

  Header module_;
};

// --- ranges of an area ------------------------------------------------------

TEST_F(AreaTest, ExtendedCodePageRangesAreCutAtPageBoundaries) {
  Area& paged = *part("paged", 0, AREA_EXT_CODE)->area;
  add_address_range(paged, 0x10000, 0x17FFF);
  EXPECT_TRUE(paged.placed);
  EXPECT_EQ(ranges_of("paged"), ":0x10000.0x13fff:0x14000.0x17fff");
}

// --- first fit ----------------------------------------------------------------

TEST_F(AreaTest, PartOfZeroBytesGoesPastAUsedUpRange) {
  RangeList ranges{{0x1000, 0x100F}, {0x2000, 0x2FFF}};
  EXPECT_EQ(allocate_from_ranges(ctx, &ranges, 0x10, "text"), 0x1000u);
  EXPECT_EQ(allocate_from_ranges(ctx, &ranges, 0, "text"), 0x2000u);
  EXPECT_EQ(format_address_ranges(&ranges), ":0x1010.0x100f:0x2000.0x2fff");
  EXPECT_EQ(err(), "");
}

TEST_F(AreaTest, AnEmptyRangeListHasNoSpaceAndIsNoFailure) {
  RangeList none;
  EXPECT_EQ(allocate_from_ranges(ctx, &none, 4, "far"), 0u);
  EXPECT_EQ(err(), "!ERROR {linker} no space left in section 'far'\n");
  EXPECT_EQ(ctx.areas.allocation_failures, 0);
}

TEST_F(AreaTest, RangeUsedUpToTheTopOfTheSpaceStaysUsedUp) {
  RangeList ranges{{0xFFFFFFF0, 0xFFFFFFFF}};
  EXPECT_EQ(allocate_from_ranges(ctx, &ranges, 0x10, "far"), 0xFFFFFFF0u);
  EXPECT_EQ(allocate_from_ranges(ctx, &ranges, 0, "far"), 0u);
  EXPECT_EQ(err(),
            "!ERROR {linker} area 'far' not large enough. Need 0 bytes\n"
            "lo 1 hi 0 size 0\n");
}

// The first range in list order with room, found by walking the list.
u32 first_fit_by_walking(RangeList& ranges, u32 size, bool& found) {
  for (AddressRange& r : ranges) {
    if (r.high < r.low || u64{r.high} - r.low + 1 < size) continue;
    found = true;
    u32 address = r.low;
    if (u64{r.low} + size > 0xFFFFFFFF)
      make_range_empty(r);
    else
      r.low += size;
    return address;
  }
  found = false;
  return 0;
}

TEST_F(AreaTest, FirstFitAndOverlaySpansMatchAWalkOfTheList) {
  const u32 top = 0xFFFFFFFF;
  for (unsigned seed = 1; seed <= 2000; ++seed) {
    std::mt19937 rng(seed);
    RangeList ranges;
    for (unsigned n = 1 + rng() % 9; n > 0; --n) {
      u32 low = rng() % 4 == 0 ? top - rng() % 12 : rng() % 100;  // some at the top of the space
      // now and then reversed, or (from 0) the whole space
      u32 high = rng() % 6 == 0 ? low - 1 - rng() % 3 : std::min<u64>(top, u64{low} + rng() % 16);
      ranges.push_back({low, high});
    }
    RangeList walked = ranges;
    CapturedLink link;  // of its own: the reports count as errors
    FirstFitIndexes indexes;
    for (int part = 0; part < 12; ++part) {
      if (rng() % 4 == 0) {  // an overlay placed at base, ranges taken as by a walk of the list
        u32 base = rng() % 2 ? top - rng() % 12 : rng() % 100;
        u64 end = u64{base} + 1 + rng() % 20;
        for (AddressRange& r : walked) {
          if (r.low > r.high || r.low >= end || r.high < base) continue;
          u64 to = std::min<u64>(end, u64{r.high} + 1);
          if (to > top)
            make_range_empty(r);
          else
            r.low = static_cast<u32>(to);
        }
        indexes.of(ranges).take_span(base, end);
        EXPECT_EQ(format_address_ranges(&ranges), format_address_ranges(&walked)) << "seed " << seed;
        continue;
      }
      u32 size = rng() % 8 == 0 ? 0 : 1 + rng() % (rng() % 3 == 0 ? 16 : 4);
      bool found = false;
      u32 expected = first_fit_by_walking(walked, size, found);
      link.ctx.areas.allocation_failures = 0;
      u32 address = allocate_from_ranges(link.ctx, &ranges, size, "text", indexes);
      EXPECT_EQ(address, expected) << "seed " << seed << " part " << part;
      EXPECT_EQ(link.ctx.areas.allocation_failures, found ? 0 : 1) << "seed " << seed << " part " << part;
      EXPECT_EQ(format_address_ranges(&ranges), format_address_ranges(&walked)) << "seed " << seed;
    }
  }
}

TEST_F(AreaTest, SharedListChangedByAnOverlayAndByTextAlignment) {
  Area& first = *part("first", 2)->area;
  add_address_range(first, 0x100, 0x105);
  add_address_range(first, 0x200, 0x2FF);
  AreaPart* overlay = part("ovl", 1, AREA_OVR);
  AreaPart* bss = part("bss", 4);
  AreaPart* text3 = part("text", 3);
  AreaPart* text2 = part("text", 2);
  allocate_areas(ctx);
  EXPECT_EQ(err(), "");
  // first leaves 0x102..0x105; the overlay takes 0x102, so bss no longer
  // fits below 0x200; text starts even, at 0x104, where 3 bytes do not fit.
  EXPECT_EQ(area("first").parts[1]->address, 0x100u);
  EXPECT_EQ(overlay->address, 0x102u);
  EXPECT_EQ(bss->address, 0x200u);
  EXPECT_EQ(text3->address, 0x204u);
  EXPECT_EQ(text2->address, 0x104u);
}

// --- whole placement -----------------------------------------------------------

TEST_F(AreaTest, AReferencedEndSymbolBecomesTheEndOfItsArea) {
  part("vectors", 3);
  part("text", 4);
  Symbol* old = lookup_linker_symbol(ctx, "__text_end");
  old->flags = SYM_REFERENCED | SYM_ABSOLUTE;
  old->value = 0x77;
  allocate_areas(ctx);
  EXPECT_EQ(err(), "");
  // It now names the end marker, a part of 0 bytes first in the area's list.
  EXPECT_EQ(old->flags, SYM_DEFINED);
  EXPECT_EQ(old->value, 0u);
  EXPECT_EQ(old->area_part, area("text").parts[0]);
  EXPECT_EQ(area("text").parts[0]->size, 0u);
  EXPECT_EQ(symbol_address(ctx, *old), 8u);
}

TEST_F(AreaTest, FirstUnplacedAreaGetsTheTextRange) {
  ctx.text_range_high = 0x7FFF;
  part("text", 0);
  allocate_areas(ctx);
  EXPECT_EQ(ranges_of("text"), ":0.0x7fff");
  // An area of empty parts still has its end symbol.
  ASSERT_NE(ctx.symbols.find("__text_end"), nullptr);
  EXPECT_EQ(symbol_address(ctx, *ctx.symbols.find("__text_end")), 0u);
}

TEST_F(AreaTest, AbsoluteAreaStartsAtItsLowestSymbol) {
  part("text", 6);
  AreaPart* abs = part("regs", 0, AREA_ABS | AREA_OVR);
  part("bss", 2);
  part("empty_abs", 0, AREA_ABS | AREA_OVR);
  for (u32 v : {0x0800u, 0x0400u, 0x0C00u}) {
    Symbol* s = lookup_linker_symbol(ctx, "R" + std::to_string(v));
    s->area_part = abs;
    s->value = v;
    s->flags = SYM_DEFINED;
  }
  allocate_areas(ctx);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(area("regs").address, 0x0400u);
  EXPECT_TRUE(area("regs").placed);
  EXPECT_EQ(abs->address, 0u);
  EXPECT_EQ(ctx.symbols.find("__regs_end"), nullptr);
  EXPECT_EQ(area("regs").parts.size(), 1u);
  // bss continues after text, not after the absolute area.
  EXPECT_EQ(area("bss").address, 6u);
  EXPECT_EQ(area("empty_abs").address, 0u);
  EXPECT_FALSE(area("empty_abs").placed);
}

TEST_F(AreaTest, AbsoluteAreaPlacedByAnOptionKeepsALowerAddress) {
  AreaPart* abs = part("regs", 0, AREA_ABS | AREA_OVR);
  Area& regs = area("regs");
  regs.address = 0x100;
  add_address_range(regs, 0x100, 0x1FF);
  Symbol* s = lookup_linker_symbol(ctx, "PORTA");
  s->area_part = abs;
  s->value = 0x300;
  allocate_areas(ctx);
  EXPECT_EQ(regs.address, 0x100u);
}

}  // namespace
}  // namespace zeld
