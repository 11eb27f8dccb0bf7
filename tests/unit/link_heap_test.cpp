// The heap in large pages: the host setting is read right, and on a host
// that offers them the link's blocks land in memory the kernel may back
// with large pages (the pair of calls that grows the heap once was
// optimised away by the compiler before; this catches that and any other
// way the reserve could silently stop working).
#include "link_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#if defined(__linux__)
#include <sys/resource.h>
#endif

namespace zeld {
namespace {

TEST(LinkHeap, LargePagesOnlyWhereTheHostLetsAProgramAsk) {
  constexpr std::size_t kPage = 2 << 20;
  EXPECT_EQ(large_pages_asked_for("always [madvise] never\n", kPage), kPage);
  EXPECT_EQ(large_pages_asked_for("[always] madvise never\n", kPage), kPage);
  EXPECT_EQ(large_pages_asked_for("always madvise [never]\n", kPage), 0u);
  EXPECT_EQ(large_pages_asked_for("", kPage), 0u);        // no such setting
  EXPECT_EQ(large_pages_asked_for("[madvise]", 0), 0u);   // size unreadable
  EXPECT_EQ(large_pages_asked_for("[madvise]", 3 << 20), 0u);
}

#if defined(__linux__)
// The "THPeligible" line of the mapping that holds `address`.
std::string large_page_mark(const void* address) {
  const auto a = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> from >> dash >> to && dash == '-') {
      inside = from <= a && a < to;
    } else if (inside && line.rfind("THPeligible:", 0) == 0) {
      return line;
    }
  }
  return "";
}

TEST(LinkHeap, TheLinksBlocksLandInMemoryMarkedForLargePages) {
  const std::size_t marked = prepare_link_heap();
  if (marked == 0) GTEST_SKIP() << "no large pages asked for (host setting, C library or sanitizer allocator)";
  EXPECT_EQ(prepare_link_heap(), 0u);  // the reserve is made once
  // The block begins where the heap's top began, which may lie up to a
  // large page below the first whole one; its end lies well inside.
  constexpr std::size_t kBlock = 16 << 20;
  auto block = std::make_unique<char[]>(kBlock);
  block[kBlock - 1] = 1;
  const std::string mark = large_page_mark(block.get() + kBlock - 1);
  EXPECT_NE(mark.find('1'), std::string::npos) << mark;
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Under a limit on its data, a link keeps the heap as it was: a reserve
// would count against the limit and could fail a link that fits.
TEST(LinkHeap, NoReserveUnderATightMemoryLimit) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_DATA, &before), 0);
  rlimit tight = before;
  tight.rlim_cur = std::min<rlim_t>(before.rlim_cur, rlim_t(1) << 30);
  ASSERT_EQ(setrlimit(RLIMIT_DATA, &tight), 0);
  const std::size_t marked = prepare_link_heap();
  auto block = std::make_unique<char[]>(8 << 20);
  block[0] = 1;
  ASSERT_EQ(setrlimit(RLIMIT_DATA, &before), 0);
  EXPECT_EQ(marked, 0u);
}
#endif
#endif

}  // namespace
}  // namespace zeld
