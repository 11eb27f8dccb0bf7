// Range options: the text range from -btext entries with and without
// ranges and without a text area, cutting a hole out of a range at every
// position (down to address 0 and up to the top of the space), reversed
// holes that cut nothing, holes out of order cut as a walk of the hole list
// would cut them, and the parsed entries: both separators, a later option
// replacing an earlier one, bad ranges kept, and a named hole's report made
// through both of its lists.
#include "ranges.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

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
  // The area entries parsed so far, as "name:ranges;".
  std::string entries() {
    std::string text;
    for (const RangeOption& o : ctx.range_options.area_range_options)
      text += o.name + format_address_ranges(&o.ranges) + ";";
    return text;
  }
};

TEST_F(RangeTest, TextEntriesSetTheTextRange) {
  ctx.range_options.area_range_options = {{"text", {}}};  // no range: the text range stays unset
  apply_address_ranges(ctx);
  EXPECT_FALSE(ctx.text_range_low);
  EXPECT_EQ(ctx.text_range_high, 0xFFFFu);
  ctx.range_options.area_range_options = {{"text", {{0x8000, 0xBFFF}}}};  // even where no module has text
  apply_address_ranges(ctx);
  EXPECT_EQ(ctx.text_range_low, 0x8000u);
  EXPECT_EQ(ctx.text_range_high, 0xBFFFu);
  EXPECT_EQ(err(), "");
}

TEST_F(RangeTest, CuttingHoles) {
  struct Case {
    u32 low, high;
    RangeList holes;
    const char* left;
  } cases[] = {
      // Plain cuts are pinned end to end and by the walk below; these are the edges.
      {0x4000, 0x7FFF, {{0x4005, 0x7FF8}}, ""},  // all but ten bytes: the area keeps no list
      {0x4000, 0x7FFF, {{0x4000, 0x40FF}}, ":0x4000.0x3fff:0x4100.0x7fff"},  // an empty lower piece stays
      {0, 0xFFFF, {{0, 0xFF}}, ":0x1.0:0x100.0xffff"},  // no wrap below address 0
      {0xFFFF0000, 0xFFFFFFFF, {{0xFFFF8000, 0xFFFFFFFF}}, ":0xffff0000.0xffff7fff"},  // nor above the top
      {0, 0xFFFF, {{0xFFFF, 0}}, ":0.0xffff"},  // a reversed hole holds no address
  };
  int n = 0;
  for (const Case& c : cases) EXPECT_EQ(cut("a" + std::to_string(n++), c.low, c.high, c.holes), c.left) << n;
  EXPECT_EQ(area("a0").address_range, nullptr);
  EXPECT_EQ(allocate_from_ranges(ctx, area("a2").address_range.get(), 0, "a2"), 0x100u);
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

TEST_F(RangeTest, ParsedEntries) {
  ctx.range_options.area_range_options = {{"bss", {{0x100, 0x1FF}}}};  // put in directly, then replaced
  parse_address_ranges(ctx, "text:0x4000.0x7FFF", RangeKind::kArea);
  parse_address_ranges(ctx, "data=0x1000", RangeKind::kArea);
  parse_address_ranges(ctx, "bss=0x800.0x8FF=0x900.0x9FF", RangeKind::kArea);
  parse_address_ranges(ctx, "text:0xC000.0xFEFF", RangeKind::kArea);  // replaces the first
  EXPECT_EQ(entries(), "bss:0x800.0x8ff:0x900.0x9ff;text:0xc000.0xfeff;data:0x1000.0xffff;");
  EXPECT_EQ(err(), "");
}

TEST_F(RangeTest, BadRangesAreReportedAndKept) {
  parse_address_ranges(ctx, "text:0x8000.0x7000", RangeKind::kArea);
  parse_address_ranges(ctx, "data:0xC000.0xFFFF:0x4000.0x7FFF", RangeKind::kArea);
  parse_address_ranges(ctx, "bss:0x1000.0x1FFF:0x1FFF.0x2FFF", RangeKind::kArea);  // sharing one address passes
  EXPECT_EQ(err(),
            "!ERROR {linker} invalid address range:0x8000.0x7000\n"
            "!ERROR {linker} address ranges \"data:0xC000.0xFFFF:0x4000.0x7FFF\" must be in increasing "
            "non-overlapping order\n");
  EXPECT_EQ(entries(), "text:0x8000.0x7000;data:0xc000.0xffff:0x4000.0x7fff;bss:0x1000.0x1fff:0x1fff.0x2fff;");
}

TEST_F(RangeTest, NamedHoleReportsTwiceThroughBothLists) {
  parse_address_ranges(ctx, "vector:0xFFFF.0xFF80", RangeKind::kRomHole);
  std::string one = "!ERROR {linker} invalid address range:0xffff.0xff80\n";
  EXPECT_EQ(err(), one + one);
}

}  // namespace
}  // namespace zeld
