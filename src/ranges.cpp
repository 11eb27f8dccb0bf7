// The range options. While the command line is scanned, every -b, -roh and
// -rwh text is parsed at once (bounds are evaluated then, so they may use
// numbers and operators but no symbol of the link) into one entry per name
// and kind; a later option for the same name and kind replaces the ranges.
// After pass 0 apply_address_ranges hands the -b ranges to their areas, sets
// the text range from the entry of `text`, and cuts the first hole entry of
// each kind out of the areas' ranges. Placement then works in what is left.
//
//   text:0x4000.0x7FFF:0xC000.0xFEFF    name, then ranges after ':' or '='
//   data=0x1000                          high end defaults to the text range's
//   :0x6000.0x60FF                       unnamed hole, entry "<fake>"
//   vector:0xFF80.0xFFFF                 named hole: also places area vector
//
// Holes are cut generously: a range that a hole leaves at most 10 bytes of
// is dropped, and so is a tail of 10 bytes or less beyond a hole. A hole is
// cut only from the range it starts in. A range written high end first is
// reported when read and kept as written; as a hole it cuts nothing.
#include "ranges.h"

#include <algorithm>
#include <iterator>

#include "context.h"
#include "expression.h"

namespace zeld {

namespace {

// Free bytes a hole may leave at either end of a range and still take it.
constexpr u64 kHoleSlack = 10;

std::vector<RangeOption>& options_of_kind(RangeOptions& options, RangeKind kind) {
  switch (kind) {
    case RangeKind::kRomHole:
      return options.rom_holes;
    case RangeKind::kRamHole:
      return options.ram_holes;
    case RangeKind::kArea:
      break;
  }
  return options.area_range_options;
}

// The option's name without its "-", as the overlap report gives it.
const char* hole_option_name(RangeKind kind) { return kind == RangeKind::kRamHole ? "rwh" : "roh"; }

// A new name keeps its place in the list; a known one loses its ranges.
RangeOption& entry_for(RangeOptions& options, RangeKind kind, const std::string& name) {
  std::vector<RangeOption>& list = options_of_kind(options, kind);
  std::unordered_map<std::string, std::size_t>& positions = options.positions[static_cast<std::size_t>(kind)];
  if (positions.size() != list.size()) {  // entries were put in directly
    positions.clear();
    for (std::size_t i = 0; i < list.size(); ++i) positions.emplace(list[i].name, i);
  }
  auto [it, created] = positions.emplace(name, list.size());
  if (created) {
    list.push_back(RangeOption{name, {}});
    return list.back();
  }
  RangeOption& entry = list[it->second];
  entry.ranges.clear();
  return entry;
}

bool starts_area_name(std::string_view text) {
  if (text.empty()) return false;
  char c = text.front();
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// The part of a hole beyond the range it starts in is not cut from the next
// range; say so rather than let code be placed in reserved memory unnoticed.
void check_hole_overlap(LinkContext& ctx, RangeKind kind, const AddressRange& hole, const AddressRange& range,
                        const AddressRange* next) {
  if (next && hole.high > range.high && hole.high >= next->low)
    ctx.diag.error_at(ctx.reader.place, "-%s: %#x.%#x improperly overlaps %#x.%#x:%#x.%#x", hole_option_name(kind),
                      hole.low, hole.high, range.low, range.high, next->low, next->high);
}

// Finds the hole that acts on a range: the first hole, in the order written,
// that starts at or above the range's low end (if it starts above the
// range's high end, nothing is cut). Holes normally ascend; a list reported
// out of order keeps its order, so the search runs over the running maximum
// of the hole starts, which ascends in any case, and its first entry that
// reaches the range's low end is that hole. A reversed hole holds no
// address and is passed over, so that it cuts nothing.
class HoleFinder {
 public:
  explicit HoleFinder(const RangeList& holes) {
    i64 highest_start = -1;
    for (const AddressRange& h : holes) {
      if (h.high >= h.low) highest_start = std::max<i64>(highest_start, h.low);
      holes_.push_back(&h);
      highest_start_.push_back(highest_start);
    }
  }

  const AddressRange* first_from(u32 low) const {
    auto it = std::lower_bound(highest_start_.begin(), highest_start_.end(), i64{low});
    return it == highest_start_.end() ? nullptr : holes_[static_cast<std::size_t>(it - highest_start_.begin())];
  }

 private:
  std::vector<const AddressRange*> holes_;
  std::vector<i64> highest_start_;  // by position in the hole list
};

void cut_found_holes(LinkContext& ctx, RangeKind kind, Area& area, const HoleFinder& holes) {
  if (!area.address_range) return;
  RangeList& ranges = *area.address_range;
  for (auto it = ranges.begin(); it != ranges.end();) {
    AddressRange& r = *it;
    auto next = std::next(it);
    // A used-up or reversed range holds nothing to cut.
    const AddressRange* found = r.low <= r.high ? holes.first_from(r.low) : nullptr;
    if (!found || found->low > r.high) {
      it = next;
      continue;
    }
    const AddressRange& h = *found;
    const AddressRange* following = next == ranges.end() ? nullptr : &*next;
    u64 hole_end_with_slack = u64{h.high} + kHoleSlack;
    if (h.low <= u64{r.low} + kHoleSlack && hole_end_with_slack >= r.high) {
      check_hole_overlap(ctx, kind, h, r, following);
      it = ranges.erase(it);
      continue;
    }
    // A hole on r's last address takes that address too.
    if (hole_end_with_slack > r.high) {
      check_hole_overlap(ctx, kind, h, r, following);
      r.high = h.low - 1;  // h.low > r.low here, so this stays inside r
    } else {
      // The upper piece comes next in the walk, so that later holes inside
      // it are cut in turn; it starts above h, which therefore acts no more.
      ranges.insert(next, AddressRange{h.high + 1, r.high});
      if (h.low == 0)
        make_range_empty(r);
      else
        r.high = h.low - 1;
    }
    ++it;
  }
  if (ranges.empty()) area.address_range.reset();
}

void cut_first_hole(LinkContext& ctx, RangeKind kind) {
  const std::vector<RangeOption>& holes = options_of_kind(ctx.range_options, kind);
  if (holes.empty()) return;
  bool ram = kind == RangeKind::kRamHole;
  const RangeOption& hole = holes.front();
  HoleFinder finder(hole.ranges);
  for (Area* area : ctx.areas.list())
    if (((area->flags & AREA_RAM) != 0) == ram && area->name != hole.name) cut_found_holes(ctx, kind, *area, finder);
}

}  // namespace

void parse_address_ranges(LinkContext& ctx, std::string_view option_text, RangeKind kind) {
  const std::string text(option_text);  // the lexer reads from this copy
  Lexer& lex = ctx.lex;
  lex.reset(text);
  bool named = kind == RangeKind::kArea || starts_area_name(text);
  std::string name = named ? std::string(lex.get_identifier()) : std::string(kFakeHoleName);
  RangeOption& entry = entry_for(ctx.range_options, kind, name);

  ReportPlace place = ctx.reader.place;  // the evaluator may rename it
  int c = lex.get_nonblank();
  if (c != '=' && c != ':') ctx.diag.error_at(place, "No '=' or ':' in expression \"%s\"", text.c_str());
  while (c == '=' || c == ':') {
    u32 low = evaluate_expression(ctx, place, 0);
    u32 high;
    c = lex.get_char();
    if (c == '.') {
      high = evaluate_expression(ctx, place, 0);
      if (high < low) ctx.diag.error_at(place, "invalid address range:%#x.%#x", low, high);
    } else {
      lex.unget_char(c);
      high = ctx.text_range_high;
    }
    if (!entry.ranges.empty() && entry.ranges.back().high > low)
      ctx.diag.error_at(place, "address ranges \"%s\" must be in increasing non-overlapping order", text.c_str());
    entry.ranges.push_back({low, high});
    c = lex.get_char();
  }
  if (c != 0) {
    std::string rest(lex.rest());
    ctx.diag.error_at(place, "Unrecognized input: '%c' %.*s{??%s}", c, static_cast<int>(lex.position()),
                      text.c_str(), rest.c_str());
  }
  lex.reset({});
  // A named hole also gives its area the hole as its place.
  if (kind != RangeKind::kArea && named) parse_address_ranges(ctx, text, RangeKind::kArea);
}

void apply_address_ranges(LinkContext& ctx) {
  for (const RangeOption& entry : ctx.range_options.area_range_options) {
    // An option without ranges was reported when it was read; it places
    // nothing and leaves the text range alone.
    if (entry.ranges.empty()) continue;
    if (entry.name == "text") {
      if (!ctx.text_range_low) ctx.text_range_low = entry.ranges.front().low;
      ctx.text_range_high = entry.ranges.back().high;
    }
    Area* area = ctx.areas.find(entry.name);
    if (!area) continue;
    if (!area->placed) area->address = entry.ranges.front().low;
    for (const AddressRange& r : entry.ranges) add_address_range(*area, r.low, r.high);
  }
  cut_first_hole(ctx, RangeKind::kRomHole);
  cut_first_hole(ctx, RangeKind::kRamHole);
}

void cut_holes(LinkContext& ctx, RangeKind kind, Area& area, const RangeOption& hole) {
  cut_found_holes(ctx, kind, area, HoleFinder(hole.ranges));
}

}  // namespace zeld
