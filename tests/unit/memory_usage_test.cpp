// The memory-usage table: the percentage at its edges (a few bytes of a
// large region, full, empty, over-full, one byte short of full), sizes in
// exact units, which region an area's bytes land in when placement gave it
// the text range or the ranges of the area before it, and overlays. The
// table of a link with several regions and pages, partly covered, is
// pinned end to end.
#include "memory_usage.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "context.h"
#include "ranges.h"
#include "test_support.h"

namespace zeld {

bool operator==(const MemoryUsageRow& a, const MemoryUsageRow& b) {
  return a.name == b.name && a.used == b.used && a.size == b.size;
}
void PrintTo(const MemoryUsageRow& r, std::ostream* os) { *os << r.name << " " << r.used << "/" << r.size; }

namespace {

using Rows = std::vector<MemoryUsageRow>;

TEST(MemoryUsage, PercentAndSizesAreExact) {
  struct Case {
    u64 used, size, hundredths;
  };
  for (const Case& c : std::vector<Case>{
           {26, 16384, 16},                     // 0.16%, where the device line says 1%
           {16384, 16384, 10000},               // full
           {0, 4096, 0},                        // empty
           {16383, 16384, 9999},                // one byte short: 99.99, not 100.00
           {0xFFFFFFFF, 0x100000000, 9999},     // rounds to 100.00 but is not full
           {1, 0x100000000, 1},                 // rounds to 0.00 but is not empty
           {0x100000001, 0x100000000, 10001},   // rounds to 100.00 but is over-full
           {~u64{0} / 1000 - 1, ~u64{0} / 1000, 9999},  // too large to scale by 10000
           {~u64{0}, 1, ~u64{0}},               // stops at the largest value
       })
    EXPECT_EQ(usage_hundredths(c.used, c.size), c.hundredths) << c.used << " of " << c.size;
  EXPECT_EQ(size_text(0), "0 B");
  EXPECT_EQ(size_text(1536), "1536 B");  // never rounded to a unit
  EXPECT_EQ(size_text(16384), "16 KB");
  EXPECT_EQ(size_text(0x40000000000), "4096 GB");
}

// Areas placed as a link places them, without object files.
class MemoryUsageLink : public LinkTest {
 protected:
  void part(const std::string& name, u32 size, u8 flags = 0) {
    bool created = false;
    AreaPart* p = ctx.areas.add_part(name, &module_, created);
    if (created) p->area->flags = flags;
    p->size = size;
  }
  void range(const std::string& text) { parse_address_ranges(ctx, text, RangeKind::kArea); }
  std::vector<MemoryUsageRow> place() {
    apply_address_ranges(ctx);
    allocate_areas(ctx);
    EXPECT_EQ(err(), "");
    return measure_memory_usage(ctx);
  }

  Header module_;
};

TEST_F(MemoryUsageLink, WithoutTextRangeTheFirstAreaHoldsTheTextRange) {
  part("vectors", 0x10, AREA_ABS | AREA_OVR);  // absolute: in no region
  part("code", 0x20);                           // first relocatable: gets 0..0xFFFF
  part("text", 0x30);                           // continues in the ranges of code
  part("bss", 0x40, AREA_RAM);
  part("bss", 0x40, AREA_RAM);
  range("bss:0x1000.0x1FFF");
  EXPECT_EQ(place(), (Rows{{"text", 0x50, 0x10000}, {"bss", 0x80, 0x1000}}));
}

TEST_F(MemoryUsageLink, WithTextRangeAnUnplacedFirstAreaGetsItsOwnRow) {
  part("low", 0x20);               // first relocatable: gets 0..0xC1FF
  part("text", 0x10);
  part("const", 0x8);              // continues in the ranges of text
  part("shared", 0x20, AREA_OVR);  // an overlay is as large as its largest part
  part("shared", 0x30, AREA_OVR);
  range("text:0xC000.0xC0FF:0xC0FF.0xC1FF");  // 0xC0FF counts once
  range("shared:0x2000.0x20FF");
  EXPECT_EQ(place(), (Rows{{"text", 0x18, 0x200}, {"shared", 0x30, 0x100}, {"low", 0x20, 0xC200}}));
}

}  // namespace
}  // namespace zeld
