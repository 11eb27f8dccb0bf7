// The map file (<base>.mp, and <base>.emp with extended labels) and the
// absolute listing (<base>.lst), written after a link without errors.
//
//   Area                               Addr   Size   Decimal Bytes (Attributes)
//   --------------------------------   ----   ----   ------- ----- ------------
//                               text   C000   1234 =   4660. bytes (rel,con,rom)
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

namespace zeld {

struct LinkContext;

// Writes the listing and one map with the given extension ("mp" or "emp").
void write_map_file(LinkContext& ctx, const char* extension);

// The date of the map header: the C library's 24-character layout of the
// local time ("Thu Jan  1 00:00:00 1970"), without its line feed. A time
// the library cannot convert gives "??? ??? ?? ??:??:?? ????".
std::string map_date_text(std::time_t when);

// Turns an object file name into its module listing's name (the text after
// the last '.' becomes "lis") and opens that for reading. nullptr, and the
// name unchanged, when the name has no '.'; nullptr when it does not open.
std::FILE* open_module_listing(std::string& name);

// Module listing lines longer than this are handled in pieces of this
// length, each piece as if it were a line of its own.
inline constexpr std::size_t kMaxListingLine = 65536;

// Copies one module listing into the absolute listing, with code addresses
// relocated through the global labels and code bytes taken from the image.
void relocate_listing(LinkContext& ctx, std::FILE* out, std::FILE* listing, const std::string& listing_name);

}  // namespace zeld
