// STUB: replaced by the area implementation (keep the AreaTable methods).
#include "areas.h"
#include "context.h"
namespace zeld {
Area* AreaTable::find(std::string_view name) const { auto it = by_name_.find(name); return it == by_name_.end() ? nullptr : it->second; }
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
AreaPart* read_area_record(LinkContext&, Header*) { return nullptr; }
void allocate_areas(LinkContext&) {}
void add_address_range(Area&, u32, u32) {}
void print_address_ranges(std::FILE*, const RangeList&) {}
}
