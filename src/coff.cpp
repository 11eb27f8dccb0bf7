// STUB: replaced by the COFF writer. The .cof file is created by the
// driver and closed here empty.
#include "coff.h"

#include "context.h"

namespace zeld {

void prepare_coff(LinkContext&) {}
void write_coff_file(LinkContext& ctx) { ctx.coff_file.reset(); }
void coff_add_file(LinkContext&, const std::string&) {}
void coff_begin_function(LinkContext&, const std::string&, u32, u32, const std::string&, u32) {}
void coff_add_block(LinkContext&, bool, u32, u32) {}
void coff_add_line(LinkContext&, u32, u32) {}
void coff_end_function(LinkContext&, u32) {}
void coff_add_variable(LinkContext&, const std::string&, char, u32, const std::string&, int) {}
void coff_add_struct_tag(LinkContext&, DbStruct&) {}
void resolve_pending_tags(LinkContext&) {}

}  // namespace zeld
