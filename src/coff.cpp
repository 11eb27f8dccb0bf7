// The COFF contents are not written yet: the .cof file is created by the
// driver and closed here empty.
#include "coff.h"

#include "context.h"

namespace zeld {

void prepare_coff(LinkContext&) {}
void write_coff_file(LinkContext& ctx) { ctx.coff_file.reset(); }

}  // namespace zeld
