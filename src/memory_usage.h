// The memory-usage table of --print-memory-usage: after a successful link,
// how many bytes each memory region holds, exactly, against its size.
//
//   Memory region         Used Size  Region Size  %age Used
//              text:          26 B        16 KB      0.16%
//               far:         768 B        32 KB      2.34%
//       far page 1F:         512 B        16 KB      3.13%
//       far page 20:         256 B        16 KB      1.56%
//
// A region is the ranges of one -b option (or named hole), in the order the
// options were given. Without -btext the text range, from 0, comes first.
// With it, a first relocatable area that no option placed (it was given
// the text range from 0) gets a row of its own name, last. A region's bytes
// are those of the area that owns its ranges and of every area that
// continues in them; absolute areas placed by their own addresses belong to
// no region. A region that spans more than one program page (16 KB,
// extended code page areas) or 64 KB bank (all others) is followed by one
// row per page or bank that holds bytes.
#pragma once

#include <string>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;

struct MemoryUsageRow {
  std::string name;
  u64 used = 0;  // bytes placed
  u64 size = 0;  // bytes the region's ranges cover
};

// The rows of the table for a placed link.
std::vector<MemoryUsageRow> measure_memory_usage(const LinkContext& ctx);

// Hundredths of a percent, rounded to the nearest, except that only a
// region used exactly to its size shows 100.00, only an empty one 0.00.
u64 usage_hundredths(u64 used, u64 size);
// A byte count in the largest unit that holds it whole: "26 B", "16 KB".
std::string size_text(u64 bytes);

// Writes the table of the link on its standard output.
void print_memory_usage(LinkContext& ctx);

}  // namespace zeld
