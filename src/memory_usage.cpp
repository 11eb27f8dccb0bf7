// The memory-usage table. It runs after the device usage line of a link
// that succeeded and only reads what placement left behind: the -b entries
// of the range options (the regions and their sizes, as written), the
// areas with their sizes and parts, and the range lists the areas share.
//
// Placement gives an area that no -b option placed the very range list of
// the relocatable area before it, and the first such area the text range;
// so the list object tells which region an area's bytes belong to. Sizes
// are those of the ranges as given: holes cut from a region still count in
// its size, as memory the program does not use.
#include "memory_usage.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "context.h"

namespace zeld {

namespace {

constexpr unsigned kCodePageBits = 14;  // 16 KB program pages
constexpr unsigned kBankBits = 16;      // 64 KB banks

// Half-open [low, end) spans, so that a range up to 0xFFFFFFFF has an end.
struct Span {
  u64 low;
  u64 end;
};

struct Region {
  MemoryUsageRow row;
  std::vector<Span> spans;  // ascending, disjoint
  unsigned page_bits = kBankBits;
  std::map<u64, u64> used_by_page;  // page number -> bytes
};

// The ranges as one ascending list of disjoint spans: ranges that touch or
// share an address count their common bytes once.
std::vector<Span> merged_spans(const RangeList& ranges) {
  std::vector<Span> spans;
  for (const AddressRange& r : ranges)
    if (r.low <= r.high) spans.push_back({r.low, u64{r.high} + 1});
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.low < b.low; });
  std::vector<Span> merged;
  for (const Span& s : spans) {
    if (!merged.empty() && s.low <= merged.back().end)
      merged.back().end = std::max(merged.back().end, s.end);
    else
      merged.push_back(s);
  }
  return merged;
}

Region make_region(std::string name, const RangeList& ranges, const Area* area) {
  Region region;
  region.row.name = std::move(name);
  region.spans = merged_spans(ranges);
  for (const Span& s : region.spans) region.row.size += s.end - s.low;
  if (area && (area->flags & AREA_EXT_CODE)) region.page_bits = kCodePageBits;
  return region;
}

void add_bytes(Region& region, u32 address, u64 size) {
  region.row.used += size;
  region.used_by_page[u64{address} >> region.page_bits] += size;
}

// An overlay's parts share one address and the area is as large as the
// largest; every other area's parts lie side by side.
void count_area(Region& region, const Area& area) {
  if (area.flags & AREA_OVR) {
    for (const AreaPart* part : area.parts)
      if (part->size != 0) {
        add_bytes(region, part->address, area.size);
        return;
      }
    return;
  }
  for (const AreaPart* part : area.parts)
    if (part->size != 0) add_bytes(region, part->address, part->size);
}

// The region's row, then, when its ranges reach into more than one page,
// a row for each page that holds bytes with the region's size in that page.
void append_rows(const Region& region, std::vector<MemoryUsageRow>& rows) {
  rows.push_back(region.row);
  if (region.spans.empty()) return;
  unsigned bits = region.page_bits;
  if (region.spans.front().low >> bits == (region.spans.back().end - 1) >> bits) return;
  const char* unit = bits == kCodePageBits ? "page" : "bank";
  std::size_t first_span = 0;
  for (const auto& [page, used] : region.used_by_page) {
    u64 page_low = page << bits, page_end = (page + 1) << bits;
    while (first_span < region.spans.size() && region.spans[first_span].end <= page_low) ++first_span;
    u64 size = 0;
    for (std::size_t i = first_span; i < region.spans.size() && region.spans[i].low < page_end; ++i)
      size += std::min(region.spans[i].end, page_end) - std::max(region.spans[i].low, page_low);
    // A code page is named as the map names it: bits 14..21 of the address.
    u64 shown = bits == kCodePageBits ? (page & 0xFF) : page;
    rows.push_back({strprintf("%s %s %llX", region.row.name.c_str(), unit, static_cast<unsigned long long>(shown)),
                    used, size});
  }
}

std::string percent_text(u64 used, u64 size) {
  if (size == 0) return "-";  // a page outside the region's ranges
  u64 h = usage_hundredths(used, size);
  return strprintf("%llu.%02llu", static_cast<unsigned long long>(h / 100), static_cast<unsigned long long>(h % 100));
}

}  // namespace

u64 usage_hundredths(u64 used, u64 size) {
  if (used == 0 || size == 0) return 0;
  u64 h;
  if (used <= (~u64{0} - size) / 10000)
    h = (used * 10000 + size / 2) / size;
  else {
    long double exact = static_cast<long double>(used) * 10000 / static_cast<long double>(size) + 0.5L;
    h = exact >= 18446744073709551615.0L ? ~u64{0} : static_cast<u64>(exact);
  }
  if (h == 0) return 1;
  if (h >= 10000 && used < size) return 9999;
  if (h <= 10000 && used > size) return 10001;
  return h;
}

std::string size_text(u64 bytes) {
  static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB"};
  std::size_t unit = 0;
  while (unit + 1 < std::size(kUnits) && bytes != 0 && bytes % 1024 == 0) {
    bytes /= 1024;
    ++unit;
  }
  return strprintf("%llu %s", static_cast<unsigned long long>(bytes), kUnits[unit]);
}

namespace {

// The table: its heading and one line per row.
std::string format_memory_usage(const std::vector<MemoryUsageRow>& rows) {
  std::string text = "Memory region         Used Size  Region Size  %age Used\n";
  for (const MemoryUsageRow& row : rows)
    text += strprintf("%16s:%14s%13s%10s%%\n", row.name.c_str(), size_text(row.used).c_str(),
                      size_text(row.size).c_str(), percent_text(row.used, row.size).c_str());
  return text;
}

}  // namespace

std::vector<MemoryUsageRow> measure_memory_usage(const LinkContext& ctx) {
  std::vector<Region> regions;
  std::vector<const Area*> owners;  // the area whose range list is the region's
  std::unordered_set<std::string_view> ranged_names;
  bool text_given = false;
  for (const RangeOption& entry : ctx.range_options.area_range_options) {
    if (entry.ranges.empty()) continue;  // places nothing
    const Area* area = ctx.areas.find(entry.name);
    ranged_names.insert(entry.name);
    text_given = text_given || entry.name == "text";
    regions.push_back(make_region(entry.name, entry.ranges, area));
    owners.push_back(area);
  }

  // The first relocatable area, when no option placed it, was given the
  // text range from 0. Without -btext that is the text range's row, first;
  // with it, a row of the area's own name, last.
  const Area* holder = nullptr;
  for (const Area* area : ctx.areas.list())
    if (!(area->flags & AREA_ABS)) {
      if (!ranged_names.count(area->name)) holder = area;
      break;
    }
  RangeList default_range{{0, ctx.text_range_high}};
  if (!text_given) {
    regions.insert(regions.begin(), make_region("text", default_range, holder));
    owners.insert(owners.begin(), holder);
  } else if (holder) {
    regions.push_back(make_region(holder->name, default_range, holder));
    owners.push_back(holder);
  }

  std::unordered_map<const RangeList*, Region*> by_list;
  for (std::size_t i = 0; i < regions.size(); ++i)
    if (owners[i] && owners[i]->address_range) by_list.emplace(owners[i]->address_range.get(), &regions[i]);
  for (const Area* area : ctx.areas.list()) {
    if (!area->address_range) continue;
    auto it = by_list.find(area->address_range.get());
    if (it != by_list.end()) count_area(*it->second, *area);
  }

  std::vector<MemoryUsageRow> rows;
  for (const Region& region : regions) append_rows(region, rows);
  return rows;
}

void print_memory_usage(LinkContext& ctx) {
  std::string table = format_memory_usage(measure_memory_usage(ctx));
  std::fwrite(table.data(), 1, table.size(), ctx.out);
  std::fflush(ctx.out);
}

}  // namespace zeld
