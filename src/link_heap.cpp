// One shared heap, reserved in large pages where the host allows; see
// link_heap.h.
#include "link_heap.h"

#include "source_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#if defined(__linux__) && __GLIBC_PREREQ(2, 33)
#define ZELD_LARGE_PAGE_HEAP 1
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#endif
#endif

namespace zeld {

namespace {

#if defined(ZELD_LARGE_PAGE_HEAP)

// How much heap is reserved. It is address space, not memory: only what
// the link touches becomes resident, a large page at a time.
constexpr std::size_t kHeapReserve = std::size_t(256) << 20;
// Blocks up to this size come from the heap (and so from large pages)
// rather than from a mapping of their own.
constexpr int kOwnMappingFrom = 32 << 20;
// The C library's own step for growing the heap, used again once the
// reserve is made.
constexpr int kUsualGrowth = 128 << 10;
// Under a limit on the process's memory below this, address space is
// scarce enough that the reserve is not made.
constexpr rlim_t kRoomyLimit = rlim_t(8) * kHeapReserve;

bool memory_limit_is_roomy() {
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0) return false;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < kRoomyLimit) return false;
  }
  return true;
}

std::size_t host_large_page_size() {
  std::string enabled, size;
  read_file("/sys/kernel/mm/transparent_hugepage/enabled", enabled);
  read_file("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", size);
  const unsigned long long bytes = std::strtoull(size.c_str(), nullptr, 10);
  return large_pages_asked_for(enabled, static_cast<std::size_t>(bytes));
}

// Grows the heap's top by the reserve at once, keeps it (the C library
// gives memory at the top back only when twice the reserve is free there),
// and marks the whole large pages in it.
std::size_t reserve_heap_in_large_pages() {
  const std::size_t page = host_large_page_size();
  if (page == 0 || !memory_limit_is_roomy()) return 0;
  void* const top = sbrk(0);
  if (top == reinterpret_cast<void*>(-1)) return 0;
  const auto start = reinterpret_cast<std::uintptr_t>(top);
  // The request exceeds what is left at the top of the heap, so the heap
  // grows by it and the reserve. Once the reserve is made, what is left
  // is more than a block the heap gives, and nothing more is done.
  // volatile: the pair must not be optimised away.
  const std::size_t request = page + mallinfo2().keepcost;
  if (request >= static_cast<std::size_t>(kOwnMappingFrom)) return 0;
  mallopt(M_MMAP_THRESHOLD, kOwnMappingFrom);
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kHeapReserve));
  mallopt(M_TOP_PAD, static_cast<int>(kHeapReserve));
  void* volatile grow = std::malloc(request);
  std::free(grow);
  mallopt(M_TOP_PAD, kUsualGrowth);
  const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t last = end & ~(page - 1);
  if (last <= first || madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) != 0) return 0;
  return last - first;
}

#endif

}  // namespace

std::size_t large_pages_asked_for(std::string_view enabled_setting, std::size_t large_page_size) {
  // The setting lists the choices and brackets the one in force.
  const bool allowed =
      enabled_setting.find("[always]") != std::string_view::npos || enabled_setting.find("[madvise]") != std::string_view::npos;
  const bool power_of_two = large_page_size != 0 && (large_page_size & (large_page_size - 1)) == 0;
  return allowed && power_of_two ? large_page_size : 0;
}

std::size_t prepare_link_heap() {
#if defined(__GLIBC__)
  // The link's threads hand memory to each other (files read ahead, records
  // unpacked, output buffers). With one heap for all of them, what one frees
  // serves the next request of any, and the peak stays that of the link's
  // data rather than a heap's worth per thread.
  mallopt(M_ARENA_MAX, 1);
#endif
#if defined(ZELD_LARGE_PAGE_HEAP)
  return reserve_heap_in_large_pages();
#else
  return 0;
#endif
}

}  // namespace zeld
