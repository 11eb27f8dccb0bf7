// The memory-usage table's arithmetic at its edges: percentages that round
// to 0 or 100 without being empty or full, over-full, too large to scale,
// and sizes in exact units. Which region an area's bytes land in, and the
// table of whole links, are pinned end to end.
#include "memory_usage.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace zeld {
namespace {

TEST(MemoryUsage, PercentAndSizesAreExact) {
  const std::tuple<u64, u64, u64> cases[] = {  // used, size, hundredths
      {16383, 16384, 9999},                        // one byte short: 99.99, not 100.00
      {0xFFFFFFFF, 0x100000000, 9999},             // rounds to 100.00 but is not full
      {1, 0x100000000, 1},                         // rounds to 0.00 but is not empty
      {0x100000001, 0x100000000, 10001},           // rounds to 100.00 but is over-full
      {~u64{0} / 1000 - 1, ~u64{0} / 1000, 9999},  // too large to scale by 10000
      {~u64{0}, 1, ~u64{0}},                       // stops at the largest value
  };
  for (const auto& [used, size, hundredths] : cases)
    EXPECT_EQ(usage_hundredths(used, size), hundredths) << used << " of " << size;
  EXPECT_EQ(size_text(1536), "1536 B");  // never rounded to a unit
  EXPECT_EQ(size_text(0x40000000000), "4096 GB");
}

}  // namespace
}  // namespace zeld
