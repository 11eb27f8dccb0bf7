// The absolute listing (<base>.lst): every object's assembler listing
// (<object>.lis), copied in link order with code addresses relocated
// through the global labels and the final code bytes. Written by the driver
// after pass 1 of a link without errors, before the maps.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "source_text.h"

namespace zeld {

struct LinkContext;
class Diagnostics;
class FilePrefetch;

// The module listings write_listing reads, in its order: one for every
// input file that can have one.
std::vector<std::string> module_listing_names(const LinkContext& ctx);

// Creates <base>.lst, writes the banner and relocates the listing of every
// input file that has one; a file that cannot be made or written is fatal.
// A label the symbol table does not know is a counted error; the listing is
// always completed. `ahead`, when given, reads module_listing_names(ctx)
// ahead of it.
void write_listing(LinkContext& ctx, FilePrefetch* ahead = nullptr);

// An object file name's module listing: the text after the last '.'
// becomes "lis". None when the name has no '.' or the result is too long.
std::optional<std::string> module_listing_name(const std::string& object_name);

// Reads a module listing into `text`; false when there is no such file. A
// listing that exists but cannot be read (no permission, a folder) is
// fatal, with the system's reason.
bool read_module_listing(Diagnostics& diag, const std::string& name, FileText& text);

// Module listing lines longer than this are handled in pieces of this
// length, each piece as if it were a line of its own.
inline constexpr std::size_t kMaxListingLine = 65536;

// Copies one module listing into the absolute listing, with code addresses
// relocated through the global labels and code bytes taken from the image
// where it holds them.
void relocate_listing(LinkContext& ctx, std::FILE* out, std::string_view listing, const std::string& listing_name);

}  // namespace zeld
