// First fit: an empty list, and, with overlays taking spans between the
// parts, the indexed search against a plain walk of the list for random
// lists (used-up ranges, parts of 0 bytes, the top of the space). Placement
// itself, shared lists and absolute areas are pinned end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "areas.h"
#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

using AreaTest = LinkTest;

// An empty list has no space, and that is no failure counted.
TEST_F(AreaTest, AnEmptyRangeListHasNoSpaceAndIsNoFailure) {
  RangeList none;
  EXPECT_EQ(allocate_from_ranges(ctx, &none, 4, "far"), 0u);
  EXPECT_EQ(err(), "!ERROR {linker} no space left in section 'far'\n");
  EXPECT_EQ(ctx.areas.allocation_failures, 0);
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

}  // namespace
}  // namespace zeld
