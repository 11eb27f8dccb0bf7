// Debug information is not collected yet: d lines are read and left alone,
// and no .dbg file is written.
#include "debug_info.h"

namespace zeld {

void collect_debug_line(LinkContext&, AreaPart*) {}
void relocate_debug_records(LinkContext&) {}
void write_debug_file(LinkContext&, const std::string&) {}

}  // namespace zeld
