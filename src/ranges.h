// The range options: -b<area>:<ranges> gives an area its address ranges,
// -roh:[<area>:]<ranges> and -rwh:[<area>:]<ranges> reserve holes in the
// read-only and read/write spaces. Options are parsed while the command
// line is scanned and applied once after pass 0, before placement.
//
//   -btext:0x4000.0x7FFF:0xC000.0xFEFF    two ranges for text
//   -bdata:0x1000                         0x1000..0xFFFF
//   -roh:0x6000.0x60FF                    unnamed hole ("<fake>")
//   -roh:vector:0xFF80.0xFFFF             hole that also places vector
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "areas.h"
#include "common.h"

namespace zeld {

struct LinkContext;

// What a range option gives: an area's ranges (-b), or a hole in the
// read-only (-roh) or read/write (-rwh) space.
enum class RangeKind { kArea, kRomHole, kRamHole };
inline constexpr std::size_t kRangeKinds = 3;

// One entry per distinct name and kind; a later option replaces the ranges.
struct RangeOption {
  std::string name;  // "<fake>" for a hole without an area name
  RangeList ranges;  // in the order written
};

struct RangeOptions {
  std::vector<RangeOption> area_range_options;
  std::vector<RangeOption> rom_holes;
  std::vector<RangeOption> ram_holes;
  // Position of each name in its list, by kind, so that many options cost
  // no search. Entries put into a list directly are indexed on the next
  // parse.
  std::unordered_map<std::string, std::size_t> positions[kRangeKinds];
};

inline constexpr const char* kFakeHoleName = "<fake>";

// Parses one option text (optional area name, then ":"/"=" ranges).
void parse_address_ranges(LinkContext& ctx, std::string_view text, RangeKind kind);
// Gives the -b ranges to their areas, sets the text range, cuts the holes.
void apply_address_ranges(LinkContext& ctx);
// Removes the hole entry's ranges from the area's ranges; `kind` names the
// option in the overlap report. A reversed hole (high below low) holds no
// address and cuts nothing.
void cut_holes(LinkContext& ctx, RangeKind kind, Area& area, const RangeOption& hole);

}  // namespace zeld
