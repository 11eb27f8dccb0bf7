// The absolute listing (<base>.lst): every object's assembler listing
// (<object>.lis), copied in link order with code addresses relocated
// through the global labels and the final code bytes. Written by the driver
// after pass 1 of a link without errors, before the maps.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace zeld {

struct LinkContext;
class Diagnostics;

// Creates <base>.lst, writes the banner and relocates the listing of every
// input file that has one; a file that cannot be made or written is fatal. A label the symbol table
// does not know is a counted error; the listing is always completed.
void write_listing(LinkContext& ctx);

// Turns an object file name into its module listing's name (the text after
// the last '.' becomes "lis") and opens that for reading. nullptr, and the
// name unchanged, when the name has no '.'; nullptr when there is no such
// file. A listing that exists but cannot be read (no permission, a folder)
// is fatal, with the system's reason.
std::FILE* open_module_listing(Diagnostics& diag, std::string& name);

// Module listing lines longer than this are handled in pieces of this
// length, each piece as if it were a line of its own.
inline constexpr std::size_t kMaxListingLine = 65536;

// Copies one module listing into the absolute listing, with code addresses
// relocated through the global labels and code bytes taken from the image
// where it holds them.
void relocate_listing(LinkContext& ctx, std::FILE* out, std::string_view listing, const std::string& listing_name);

}  // namespace zeld
