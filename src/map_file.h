// The map file (<base>.mp, and <base>.emp with extended labels) and the
// absolute listing (<base>.lst), written after a link without errors.
//
//   Area                               Addr   Size   Decimal Bytes (Attributes)
//   --------------------------------   ----   ----   ------- ----- ------------
//                               text   C000   1234 =   4660. bytes (rel,con,rom)
#pragma once

namespace zeld {

struct LinkContext;

// Writes the listing and one map with the given extension ("mp" or "emp").
void write_map_file(LinkContext& ctx, const char* extension);

}  // namespace zeld
