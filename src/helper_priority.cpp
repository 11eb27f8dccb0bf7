// Thread priority by host; see helper_priority.h.
#include "helper_priority.h"

#include <cerrno>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace zeld {

void run_below_link_priority() {
#if defined(_WIN32)
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#elif defined(__linux__)
  // Linux gives each thread a nice value of its own; raising it a little
  // weighs the thread at about a third of the link's thread when both wait
  // for a core. Other systems would change the whole process.
  constexpr int kNiceSteps = 5;
  const auto thread = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, thread);
  if (errno == 0) setpriority(PRIO_PROCESS, thread, nice + kNiceSteps);
#endif
}

}  // namespace zeld
