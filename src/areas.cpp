// Areas and their placement. Pass 0 hands every A line to read_area_record,
// which adds one part to the area of that name and files it in the module's
// area slots. Between the passes (after the range options have given areas
// their -b ranges and cut the holes) allocate_areas walks the areas in order
// of first appearance and gives every part its absolute address by first fit
// in the area's free ranges (a tree over each list finds the first range that
// fits without walking used ranges again); relocation, the image and the map
// read the addresses left here. Nothing moves after that.
//
//   A text size 1A flags 0      part of 0x1A bytes in area text
//   A vectors size 10 flags 0C  absolute overlay part
//
// An area that no -b option placed continues in the very range list of the
// relocatable area before it (the list object is shared), so input order
// decides the layout. Ranges are consumed from their low end and never leave
// a list while placing; an empty list is kept as no list at all.
#include "areas.h"

#include <algorithm>
#include <cstdint>

#include "context.h"
#include "symbols.h"

namespace zeld {

namespace {

// Largest part of an extended code page area: one 16 KB program page.
constexpr u32 kCodePageSize = 0x4000;
// Largest area with AREA_PAG, and the boundary it starts on.
constexpr u32 kDirectPageSize = 0x100;
// The fourth part that finds no room ends the link.
constexpr int kMaxAllocationFailures = 3;

// Moves a range's low end up to `to`; past the top of the 32-bit space the
// range is emptied instead of wrapping back to 0.
void raise_low(AddressRange& range, u64 to) {
  if (to > 0xFFFFFFFFull)
    make_range_empty(range);
  else
    range.low = static_cast<u32>(to);
}

// Free bytes of a range, -1 when it holds no address at all.
i64 free_size(const AddressRange& range) {
  return range.high >= range.low ? i64{range.high} - range.low + 1 : -1;
}

void report_not_large_enough(LinkContext& ctx, const RangeList& ranges, u32 size, const std::string& name) {
  ctx.diag.error_at(ctx.reader.place, "area '%s' not large enough. Need %d bytes", name.c_str(),
                    static_cast<int>(size));
  for (const AddressRange& r : ranges)
    ctx.diag.write("lo %d hi %d size %d\n", static_cast<int>(r.low), static_cast<int>(r.high),
                   static_cast<int>(r.high - r.low + 1));
}

// An overlay area puts all its parts at its address without first fit;
// its span is still taken out of the ranges so that an area continuing in
// the same list starts past it rather than on top of it.
void consume_overlay(Area& area, u32 base, FirstFitIndexes& indexes) {
  if (!area.address_range || area.size == 0) return;
  indexes.of(*area.address_range).take_span(base, static_cast<u64>(base) + area.size);
}

// The lowest symbol value of every absolute area, gathered in one walk over
// the symbols before placement starts.
struct AbsoluteBases {
  std::vector<u32> lowest;  // by area index
  std::vector<bool> seen;
};

// An end symbol "__<area>_end" defined by a module inside an absolute area
// is taken over by that relocatable area when it is placed; an absolute area
// placed after it no longer counts the symbol.
bool taken_before(const LinkContext& ctx, const Symbol& sym, const Area& abs_area) {
  std::string_view name = sym.name;
  if (name.size() < 6 || name.substr(0, 2) != "__" || name.substr(name.size() - 4) != "_end") return false;
  const Area* owner = ctx.areas.find(name.substr(2, name.size() - 6));
  return owner && !(owner->flags & AREA_ABS) && owner->index < abs_area.index;
}

AbsoluteBases collect_absolute_bases(const LinkContext& ctx) {
  AbsoluteBases bases;
  std::size_t count = ctx.areas.list().size();
  bases.lowest.assign(count, 0);
  bases.seen.assign(count, false);
  bool any = std::any_of(ctx.areas.list().begin(), ctx.areas.list().end(),
                         [](const Area* a) { return (a->flags & AREA_ABS) != 0; });
  if (!any) return bases;
  ctx.symbols.for_each_entered([&](const Symbol& sym) {
    if (!sym.area_part || !sym.area_part->area) return;
    const Area& area = *sym.area_part->area;
    if (!(area.flags & AREA_ABS) || taken_before(ctx, sym, area)) return;
    std::size_t i = area.index;
    if (!bases.seen[i] || sym.value < bases.lowest[i]) bases.lowest[i] = sym.value;
    bases.seen[i] = true;
  });
  return bases;
}

// The area starts at its lowest symbol value; an address it already had
// (from -b) counts too unless it is 0 on an area not placed yet.
void set_absolute_area_address(Area& area, const AbsoluteBases& bases) {
  if (!bases.seen[area.index]) return;
  u32 lowest = bases.lowest[area.index];
  if (area.address == 0 && !area.placed)
    area.address = lowest;
  else
    area.address = std::min(area.address, lowest);
  area.placed = true;
}

// The end marker is an empty part at the area's end; "__<area>_end" points
// at it, so its address is the end of the area.
void define_end_symbol(LinkContext& ctx, Area& area, u32 end) {
  AreaPart* marker = ctx.areas.new_part();
  marker->area = &area;
  marker->header = area.parts.empty() ? nullptr : area.parts.front()->header;
  marker->address = end;
  marker->size = 0;
  area.parts.insert(area.parts.begin(), marker);
  Symbol* sym = lookup_linker_symbol(ctx, "__" + area.name + "_end");
  sym->value = 0;
  sym->area_part = marker;
  sym->flags = SYM_DEFINED;
}

// An area that no -b option placed: the first relocatable area of the link
// gets the whole text range from 0, every later one continues in the list
// of the area before it.
void give_default_ranges(LinkContext& ctx, Area& area, Area* last_ap, FirstFitIndexes& indexes) {
  if (!last_ap) {
    add_address_range(area, 0, ctx.text_range_high);
    return;
  }
  if (last_ap->address_range && last_ap->address_range->empty()) {
    indexes.forget(last_ap->address_range.get());
    last_ap->address_range.reset();
  }
  if (!last_ap->address_range) {
    // Nothing is left to continue in: every part of the area is reported
    // as finding no space, and the link fails.
    area.placed = true;
    area.address = 0;
    return;
  }
  area.address_range = last_ap->address_range;
  area.placed = true;
  if (area.name == "text") {
    indexes.forget(area.address_range.get());
    for (AddressRange& r : *area.address_range) raise_low(r, (static_cast<u64>(r.low) + 1) & ~u64{1});
  }
  area.address = area.address_range->front().low;
}

}  // namespace

AreaPart* read_area_record(LinkContext& ctx, Lexer& lex, Header* header) {
  std::string name(lex.get_identifier());
  lex.skip_word();
  u32 size = lex.read_number();
  lex.skip_word();
  u8 flags = static_cast<u8>(lex.read_number());  // only the attribute byte is kept
  return add_area_part(ctx, header, name, size, flags);
}

AreaPart* add_area_part(LinkContext& ctx, Header* header, std::string_view name, u32 size, u8 flags) {
  bool created = false;
  AreaPart* part = ctx.areas.add_part(name, header, created);
  Area& area = *part->area;
  part->size = size;

  if (created)
    area.flags = flags;
  else if (flags != 0 && flags != area.flags)
    ctx.diag.error_at(ctx.reader.place, "conflicting flags in area '%s': old %#x new %#x", area.name.c_str(),
                      static_cast<unsigned>(area.flags), static_cast<unsigned>(flags));

  if ((area.flags & AREA_EXT_CODE) && part->size > kCodePageSize)
    ctx.diag.fatal(
        "Compiled object code too large to fit in code page window. Please split the source file into smaller\n"
        "  files by moving functions into different source files.");
  if (!header) ctx.diag.fatal("no header defined");
  if (header->area_parts.size() >= header->area_capacity) ctx.diag.fatal("header area list overflow");
  header->area_parts.push_back(part);
  return part;
}

void add_address_range(Area& area, u32 low, u32 high) {
  area.placed = true;
  unsigned unit = (area.flags & AREA_EXT_CODE) ? 14 : 16;
  u32 mask = (u32{1} << unit) - 1;
  u32 first = low >> unit, last = high >> unit;
  for (u32 b = first; b <= last; ++b) {
    if (!area.address_range) area.address_range = std::make_shared<RangeList>();
    area.address_range->push_back({b == first ? low : b << unit, b == last ? high : (b << unit) | mask});
  }
}

std::string format_address_ranges(const RangeList* ranges) {
  std::string text;
  if (ranges)
    for (const AddressRange& r : *ranges) text += strprintf(":%#x.%#x", r.low, r.high);
  return text;
}

void print_address_ranges(std::FILE* stream, const RangeList& ranges) {
  std::string text = format_address_ranges(&ranges);
  std::fwrite(text.data(), 1, text.size(), stream);
}

FirstFitIndex::FirstFitIndex(RangeList& ranges) {
  for (AddressRange& r : ranges) ranges_.push_back(&r);
  while (leaves_ < ranges_.size()) leaves_ *= 2;
  largest_.assign(2 * leaves_, -1);
  lowest_low_.assign(2 * leaves_, INT64_MAX);
  highest_high_.assign(2 * leaves_, -1);
  for (std::size_t p = 0; p < ranges_.size(); ++p) set_leaf(p);
  for (std::size_t i = leaves_ - 1; i > 0; --i) pull(i);
}

void FirstFitIndex::set_leaf(std::size_t position) {
  const AddressRange& r = *ranges_[position];
  std::size_t i = leaves_ + position;
  bool open = r.low <= r.high;
  largest_[i] = free_size(r);
  lowest_low_[i] = open ? i64{r.low} : INT64_MAX;
  highest_high_[i] = open ? i64{r.high} : -1;
}

void FirstFitIndex::pull(std::size_t i) {
  largest_[i] = std::max(largest_[2 * i], largest_[2 * i + 1]);
  lowest_low_[i] = std::min(lowest_low_[2 * i], lowest_low_[2 * i + 1]);
  highest_high_[i] = std::max(highest_high_[2 * i], highest_high_[2 * i + 1]);
}

std::size_t FirstFitIndex::find(u32 size) const {
  if (largest_[1] < i64{size}) return npos;
  std::size_t i = 1;
  while (i < leaves_) i = largest_[2 * i] >= i64{size} ? 2 * i : 2 * i + 1;
  return i - leaves_;
}

void FirstFitIndex::update(std::size_t position) {
  set_leaf(position);
  for (std::size_t i = (leaves_ + position) / 2; i > 0; i /= 2) pull(i);
}

void FirstFitIndex::take_span(u32 base, u64 end) { take_span_under(1, base, end); }

// Descends only where some range with free addresses starts below end and
// some ends at or above base: in a list in increasing order those are the
// ranges the span meets, so an overlay costs the ranges it uses up (each
// only once in a link) and a logarithmic walk.
void FirstFitIndex::take_span_under(std::size_t node, u32 base, u64 end) {
  if (lowest_low_[node] >= static_cast<i64>(end) || highest_high_[node] < i64{base}) return;
  if (node >= leaves_) {
    AddressRange& r = *ranges_[node - leaves_];
    raise_low(r, std::min<u64>(end, static_cast<u64>(r.high) + 1));
    set_leaf(node - leaves_);
    return;
  }
  take_span_under(2 * node, base, end);
  take_span_under(2 * node + 1, base, end);
  pull(node);
}

FirstFitIndex& FirstFitIndexes::of(RangeList& ranges) {
  auto it = indexes_.find(&ranges);
  if (it == indexes_.end()) it = indexes_.emplace(&ranges, FirstFitIndex(ranges)).first;
  return it->second;
}

u32 allocate_from_ranges(LinkContext& ctx, RangeList* ranges, u32 size, const std::string& area_name) {
  FirstFitIndexes indexes;
  return allocate_from_ranges(ctx, ranges, size, area_name, indexes);
}

u32 allocate_from_ranges(LinkContext& ctx, RangeList* ranges, u32 size, const std::string& area_name,
                         FirstFitIndexes& indexes) {
  if (!ranges || ranges->empty()) {
    ctx.diag.error_at(ctx.reader.place, "no space left in section '%s'", area_name.c_str());
    return 0;
  }
  FirstFitIndex& index = indexes.of(*ranges);
  std::size_t position = index.find(size);
  if (position == FirstFitIndex::npos) {
    report_not_large_enough(ctx, *ranges, size, area_name);
    if (++ctx.areas.allocation_failures > kMaxAllocationFailures) stop_link(kExitUsage);
    return 0;
  }
  AddressRange& range = index.range(position);
  AreaTable& t = ctx.areas;
  if (area_name != t.last_allocated_area_name) {
    t.last_allocated_area_name = area_name;
    t.contiguous_range = (area_name == "idata" || area_name == "data") ? &range : nullptr;
  } else if (t.contiguous_range && t.contiguous_range != &range) {
    ctx.diag.error_at(ctx.reader.place, "area '%s' must be contiguous", area_name.c_str());
  }
  u32 address = range.low;
  raise_low(range, static_cast<u64>(range.low) + size);
  index.update(position);
  return address;
}

namespace {

// Places the parts of one area from its address and ranges, sets its size
// and returns its end address.
u32 allocate_area_parts(LinkContext& ctx, Area& area, FirstFitIndexes& indexes) {
  u32 base = area.address;
  if ((area.flags & AREA_PAG) && (base & (kDirectPageSize - 1)) != 0)
    ctx.diag.error_at(ctx.reader.place, "paged area '%s' boundary error", area.name.c_str());
  u32 end = 0;
  if (area.flags & AREA_OVR) {
    u32 largest = 0;
    for (AreaPart* part : area.parts) {
      part->address = base;
      largest = std::max(largest, part->size);
    }
    area.size = largest;
    end = base + largest;
    consume_overlay(area, base, indexes);
  } else {
    u32 total = 0;
    for (AreaPart* part : area.parts) {
      part->address = allocate_from_ranges(ctx, area.address_range.get(), part->size, area.name, indexes);
      total += part->size;
      end = std::max(end, part->address + part->size);
    }
    area.size = total;
  }
  if ((area.flags & AREA_PAG) && area.size > kDirectPageSize)
    ctx.diag.error_at(ctx.reader.place, "paged area '%s' length error", area.name.c_str());
  return end;
}

u32 text_object_bytes(const Area& area) {
  u32 size = 0;
  for (const AreaPart* part : area.parts)
    if (!part->header || !part->header->input_file || !part->header->input_file->elf) size += part->size;
  return size;
}

}  // namespace

void allocate_areas(LinkContext& ctx) {
  bool trace = ctx.options.trace_level > 1;
  AbsoluteBases bases = collect_absolute_bases(ctx);
  // Kept for the whole walk: consecutive areas share range lists, and an
  // index built once per list keeps placement n log n.
  FirstFitIndexes indexes;
  Area* last_ap = nullptr;
  u32 idata_size = 0, data_size = 0;
  for (Area* area_ptr : ctx.areas.list()) {
    Area& area = *area_ptr;
    if (area.flags & AREA_ABS) {
      allocate_area_parts(ctx, area, indexes);
      set_absolute_area_address(area, bases);
    } else {
      if (!area.placed) {
        give_default_ranges(ctx, area, last_ap, indexes);
        if (trace)
          ctx.diag.write("NO inited %s:%s\n", area.name.c_str(), format_address_ranges(area.address_range.get()).c_str());
      } else if (trace) {
        ctx.diag.write("INITed %s:%s\n", area.name.c_str(), format_address_ranges(area.address_range.get()).c_str());
      }
      u32 end = allocate_area_parts(ctx, area, indexes);
      if (trace)
        ctx.diag.write("after allocation %s:%s\n", area.name.c_str(),
                       format_address_ranges(area.address_range.get()).c_str());
      last_ap = &area;
      define_end_symbol(ctx, area, end);
    }
    // ELF's .data is initialised in place and has no copy in idata: only
    // the parts of text objects must match.
    if (area.name == "idata") idata_size = text_object_bytes(area);
    if (area.name == "data") data_size = text_object_bytes(area);
  }
  if (idata_size != data_size)
    ctx.diag.fatal("idata area %d bytes not the same size as data area %d bytes!", static_cast<int>(idata_size),
                   static_cast<int>(data_size));
}

// The table keeps areas in order of first appearance and finds them by name.
Area* AreaTable::find(std::string_view name) const {
  auto it = by_name_.find(name);
  return it == by_name_.end() ? nullptr : it->second;
}

AreaPart* AreaTable::add_part(std::string_view name, Header* header, bool& created) {
  Area* area = find(name);
  created = area == nullptr;
  if (created) {
    area = &storage_.emplace_back();
    area->name = std::string(name.substr(0, kMaxNameLength));
    area->index = list_.size();
    list_.push_back(area);
    by_name_.emplace(area->name, area);
  }
  AreaPart* part = &parts_.emplace_back();
  part->area = area;
  part->header = header;
  area->parts.push_back(part);
  return part;
}

AreaPart* AreaTable::new_part() { return &parts_.emplace_back(); }

}  // namespace zeld
