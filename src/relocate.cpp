// STUB: replaced by the relocation engine.
#include "relocate.h"
#include "context.h"
namespace zeld {
void dispatch_relocation_record(LinkContext&, int, Header*) {}
void clear_page_state(LinkContext& ctx) { ctx.reloc.page_area = nullptr; ctx.reloc.page_area_part = nullptr; ctx.reloc.page_offset = 0; }
void default_page_state(LinkContext&) {}
}
