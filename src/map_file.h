// The map file (<base>.mp, and <base>.emp with extended labels), written
// after a link without errors.
//
//   Area                               Addr   Size   Decimal Bytes (Attributes)
//   --------------------------------   ----   ----   ------- ----- ------------
//                               text   C000   1234 =   4660. bytes (rel,con,rom)
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

namespace zeld {

class Diagnostics;
struct LinkContext;

// The standard map (.mp) leaves the marker symbols out and lists the -b
// options; the extended map (.emp), written after it in the same link,
// lists only the marker symbols and has no -b lines.
enum class MapKind { Standard, Extended };

// The map file's extension: "mp" or "emp".
const char* map_extension(MapKind kind);
// Writes the text of one map of the placed link to `out`, reporting to
// `diag`.
void write_map(const LinkContext& ctx, Diagnostics& diag, MapKind kind, std::FILE* out);
// Makes <base>.<extension> and writes the map there; a file that cannot be
// made or written is fatal.
void write_map_file(const LinkContext& ctx, Diagnostics& diag, MapKind kind);

// The date of the map header: the C library's 24-character layout of the
// local time ("Thu Jan  1 00:00:00 1970"), without its line feed. A time
// the library cannot convert gives "??? ??? ?? ??:??:?? ????".
std::string map_date_text(std::time_t when);

}  // namespace zeld
