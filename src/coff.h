// The COFF debug file (<base>.cof): code, line numbers, symbols and types.
#pragma once

namespace zeld {

struct LinkContext;

// Sets up the tables before any debug entry is added.
void prepare_coff(LinkContext& ctx);
// Writes the file and closes ctx.coff_file.
void write_coff_file(LinkContext& ctx);

}  // namespace zeld
