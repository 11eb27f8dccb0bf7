// The heap the link allocates from. Every thread of the link shares one
// heap, and on Linux hosts that offer transparent huge pages, the part of
// the heap the link's data will fill is reserved at the start and asked to
// be backed by large pages. A link of a large project touches tens of
// megabytes of fresh memory (parsed records, symbol tables, report texts);
// in small pages every 4 KB of it costs the kernel a page fault, and those
// faults were a sixth of the link's time.
//
// Called at the start of a link; once the reserve is made, calling it again
// adds nothing. Nothing here can fail a link: where the host or the C
// library does not allow a step, the heap simply stays as it was.
#pragma once

#include <cstddef>
#include <string_view>

namespace zeld {

// Gives the bytes of heap this call asked to be backed by large pages
// (0 when it asked for none).
std::size_t prepare_link_heap();

// The size of a large page when the host's setting (the text of
// /sys/kernel/mm/transparent_hugepage/enabled) lets a program ask for
// them, else 0.
std::size_t large_pages_asked_for(std::string_view enabled_setting, std::size_t large_page_size);

}  // namespace zeld
