// Holes cut out of ranges: at the edges (all of a range, down to address
// 0, up to the top of the space), and for random ranges and holes, in order
// or not, as a walk of the hole list would cut them and with the same
// reports. The forms of the options and their messages are pinned end to
// end.
#include "ranges.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "areas.h"
#include "context.h"
#include "test_support.h"

namespace zeld {
namespace {

class RangeTest : public LinkTest {
 protected:
  Area& area(const std::string& name) {
    bool created = false;
    return *ctx.areas.add_part(name, nullptr, created)->area;
  }
  // The ranges of an area after one hole entry is cut from [low, high].
  std::string cut(const std::string& name, u32 low, u32 high, RangeList holes) {
    Area& a = area(name);
    add_address_range(a, low, high);
    cut_holes(ctx, RangeKind::kRomHole, a, RangeOption{kFakeHoleName, std::move(holes)});
    return format_address_ranges(a.address_range.get());
  }
};

TEST_F(RangeTest, CuttingHolesAtTheEdges) {
  EXPECT_EQ(cut("all", 0x4000, 0x7FFF, {{0x4005, 0x7FF8}}), "");  // all but ten bytes: the area keeps no list
  EXPECT_EQ(area("all").address_range, nullptr);
  EXPECT_EQ(cut("zero", 0, 0xFFFF, {{0, 0xFF}}), ":0x1.0:0x100.0xffff");  // no wrap below address 0
  EXPECT_EQ(allocate_from_ranges(ctx, area("zero").address_range.get(), 0, "zero"), 0x100u);
  EXPECT_EQ(cut("top", 0xFFFF0000, 0xFFFFFFFF, {{0xFFFF8000, 0xFFFFFFFF}}), ":0xffff0000.0xffff7fff");  // nor above
  EXPECT_EQ(err(), "");
}

// The walk of every hole for every piece, as holes were first cut; reversed
// holes are passed over. The cut above must leave the same pieces and
// report the same overlaps for any ranges and holes, in order or not.
RangeList cut_by_walking_all_holes(RangeList ranges, const RangeList& holes, std::string& reports) {
  for (auto it = ranges.begin(); it != ranges.end();) {
    AddressRange& r = *it;
    auto next = std::next(it);
    bool removed = false;
    for (const AddressRange& h : holes) {
      if (h.high < h.low) continue;
      if (h.low > r.high) break;
      if (h.low < r.low) continue;
      if (next != ranges.end() && h.high > r.high && h.high >= next->low)
        reports += strprintf("!ERROR {linker} -roh: %#x.%#x improperly overlaps %#x.%#x:%#x.%#x\n", h.low, h.high,
                             r.low, r.high, next->low, next->high);
      if (h.low <= u64{r.low} + 10 && u64{h.high} + 10 >= r.high) {
        it = ranges.erase(it);
        removed = true;
      } else if (u64{h.high} + 10 > r.high) {
        r.high = h.low - 1;
      } else {
        ranges.insert(next, AddressRange{h.high + 1, r.high});
        if (h.low == 0)
          make_range_empty(r);
        else
          r.high = h.low - 1;
      }
      break;
    }
    if (!removed) ++it;
  }
  return ranges;
}

TEST(RangeCut, MatchesTheWalkOfEveryHole) {
  for (unsigned seed = 1; seed <= 3000; ++seed) {
    std::mt19937 rng(seed);
    auto random_ranges = [&](unsigned most) {
      RangeList list;
      for (unsigned n = rng() % (most + 1); n > 0; --n) {
        u32 low = rng() % 120;
        u32 high = rng() % 8 == 0 ? rng() % 120 : low + rng() % 30;  // now and then reversed
        list.push_back({low, high});
      }
      if (rng() % 2) list.sort([](const AddressRange& a, const AddressRange& b) { return a.low < b.low; });
      return list;
    };
    RangeList ranges = random_ranges(4), holes = random_ranges(6);
    std::string expected_reports;
    RangeList expected = cut_by_walking_all_holes(ranges, holes, expected_reports);

    CapturedLink link;
    bool created = false;
    Area& a = *link.ctx.areas.add_part("a", nullptr, created)->area;
    if (!ranges.empty()) a.address_range = std::make_shared<RangeList>(ranges);
    cut_holes(link.ctx, RangeKind::kRomHole, a, RangeOption{kFakeHoleName, holes});
    EXPECT_EQ(format_address_ranges(a.address_range.get()), format_address_ranges(&expected))
        << "seed " << seed << ": " << format_address_ranges(&ranges) << " less " << format_address_ranges(&holes);
    EXPECT_EQ(link.err(), expected_reports) << "seed " << seed;
  }
}

}  // namespace
}  // namespace zeld
