// The map file (<base>.mp, and <base>.emp with extended labels) and the
// absolute listing, written after a link without errors.
#pragma once

namespace zeld {

struct LinkContext;

void write_map_file(LinkContext& ctx, const char* extension);

}  // namespace zeld
