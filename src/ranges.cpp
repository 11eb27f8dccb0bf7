// STUB: replaced by the range option implementation.
#include "ranges.h"
#include "context.h"
namespace zeld {
void parse_address_ranges(LinkContext&, std::string_view, int) {}
void apply_address_ranges(LinkContext&) {}
void cut_holes(LinkContext&, const char*, Area&, const RangeOption&) {}
}
