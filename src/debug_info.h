// Debug information: the modules' d lines, collected in pass 0, relocated
// after pass 1 and written as the .dbg file with -g.
#pragma once

#include <string>

namespace zeld {

struct LinkContext;
struct AreaPart;

// Pass-0 handler of a d line.
void collect_debug_line(LinkContext& ctx, AreaPart* area_part);
// Gives the collected records their absolute addresses (after pass 1).
void relocate_debug_records(LinkContext& ctx);
// Writes <base>.dbg.
void write_debug_file(LinkContext& ctx, const std::string& base_name);

}  // namespace zeld
