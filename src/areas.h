// Areas, their per-module parts, and placement. Every A line adds a part
// to the area of its name; between the passes allocate_areas gives every
// part its absolute address by first fit in the area's free ranges and
// defines "__<area>_end" for every relocatable area.
//
//   A text size 1A flags 0     a 0x1A-byte part of area text
//
// Areas keep the order of first appearance, which decides the layout: an
// area that no -b option placed continues in the very range list of the
// relocatable area before it.
#pragma once

#include <cstdio>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;
class Lexer;
struct Header;
struct Area;

enum AreaFlags : u8 {
  AREA_LINEAR = 0x02,
  AREA_OVR = 0x04,
  AREA_ABS = 0x08,
  AREA_PAG = 0x10,
  AREA_RAM = 0x20,
  AREA_EXT_CODE = 0x80,
};

// Inclusive free range; exhausted when low > high.
struct AddressRange {
  u32 low = 0;
  u32 high = 0;
};

// Free ranges of an area in increasing order. Consecutive unplaced areas
// share one list object.
using RangeList = std::list<AddressRange>;

struct AreaPart {
  Area* area = nullptr;
  Header* header = nullptr;
  u32 address = 0;
  u32 size = 0;
};

struct Area {
  // Parts in A-line order; after allocation the end marker comes first.
  std::vector<AreaPart*> parts;
  u32 address = 0;
  std::shared_ptr<RangeList> address_range;
  u32 size = 0;
  bool placed = false;
  u8 flags = 0;
  std::string name;
  std::size_t index = 0;  // position in the area list
};

class AreaTable {
 public:
  Area* find(std::string_view name) const;
  // Finds or creates the area and appends a new part to it; `created`
  // tells whether the area is new.
  AreaPart* add_part(std::string_view name, Header* header, bool& created);
  // A part that belongs to no A line (the end markers).
  AreaPart* new_part();

  const std::vector<Area*>& list() const { return list_; }
  Area* first() const { return list_.empty() ? nullptr : list_.front(); }

  int allocation_failures = 0;
  std::string last_allocated_area_name;
  const AddressRange* contiguous_range = nullptr;

 private:
  std::deque<Area> storage_;
  std::deque<AreaPart> parts_;
  std::vector<Area*> list_;
  std::unordered_map<std::string_view, Area*> by_name_;
};

// Finds the first range, in list order, that can hold a part, in time
// logarithmic in the number of ranges: a tree of the largest free size over
// the ranges in list order, searched from the left. Two more trees, of the
// lowest low and highest high end of the ranges with free addresses, find
// the ranges that an overlay's span meets. The list must neither gain nor
// lose ranges while the index is used; a range whose bounds change is told
// with update().
class FirstFitIndex {
 public:
  static constexpr std::size_t npos = ~std::size_t{0};

  explicit FirstFitIndex(RangeList& ranges);
  // Position of the first range that holds `size` bytes, or npos.
  std::size_t find(u32 size) const;
  AddressRange& range(std::size_t position) const { return *ranges_[position]; }
  void update(std::size_t position);
  // Every range with free addresses that meets base..end-1 gives up all
  // its addresses below end (an overlay area placed at base).
  void take_span(u32 base, u64 end);

 private:
  void set_leaf(std::size_t position);
  void pull(std::size_t node);
  void take_span_under(std::size_t node, u32 base, u64 end);

  std::vector<AddressRange*> ranges_;
  std::size_t leaves_ = 1;
  // Node i covers the leaves below it; leaf p is node leaves_ + p. A range
  // with no free address counts -1, so that even 0 bytes do not fit it, and
  // it has no low or high end in the other two trees.
  std::vector<i64> largest_;
  std::vector<i64> lowest_low_;
  std::vector<i64> highest_high_;
};

// The indexes of the range lists that placement uses, each built on its
// first use. Whoever changes a list other than through allocate_from_ranges
// forgets its index (it is built again when next needed).
class FirstFitIndexes {
 public:
  FirstFitIndex& of(RangeList& ranges);
  void forget(const RangeList* ranges) { indexes_.erase(ranges); }

 private:
  std::unordered_map<const RangeList*, FirstFitIndex> indexes_;
};

// Pass-0 handler of an A line ("A name size N flags F", read through
// `lex`); the new part becomes the current part.
AreaPart* read_area_record(LinkContext& ctx, Lexer& lex, Header* header);
// Adds the module's next part of area `name` (created with `flags` when
// new; other non-zero flags conflict), as an A line does.
AreaPart* add_area_part(LinkContext& ctx, Header* header, std::string_view name, u32 size, u8 flags);
// Places every area and defines the end symbols.
void allocate_areas(LinkContext& ctx);
// First fit of `size` bytes in `ranges` (nullptr: no ranges at all). A part
// that finds no room is reported and placed at 0; the fourth such failure
// ends the link.
u32 allocate_from_ranges(LinkContext& ctx, RangeList* ranges, u32 size, const std::string& area_name,
                         FirstFitIndexes& indexes);
// The same for one part alone (the index is built for this call).
u32 allocate_from_ranges(LinkContext& ctx, RangeList* ranges, u32 size, const std::string& area_name);
// Appends low..high to the area's ranges, cut at 64 KB (16 KB for extended
// code page areas), and marks the area placed. The list is created on the
// first piece; an area whose list would stay empty keeps none.
void add_address_range(Area& area, u32 low, u32 high);
// Writes ":%#x.%#x" for every range.
void print_address_ranges(std::FILE* stream, const RangeList& ranges);
// The same text as a string (empty for no list), for the traces.
std::string format_address_ranges(const RangeList* ranges);
// Leaves a range with no free address where low = high + 1 cannot say so:
// a range emptied at address 0, or used up to 0xFFFFFFFF, would otherwise
// wrap into one that spans the whole address space.
inline void make_range_empty(AddressRange& range) {
  range.low = 1;
  range.high = 0;
}

}  // namespace zeld
