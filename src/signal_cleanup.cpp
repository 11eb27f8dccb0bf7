// The signal-time clean-up registry; see signal_cleanup.h.
//
// Slots are atomic pointers to heap copies of the names. Registering
// publishes a finished copy with one atomic store, forgetting takes it back
// with one atomic exchange before freeing it, so the handler never sees a
// half-made or freed name.
#include "signal_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zeld {

namespace {

constexpr int kSlots = 2048;

std::atomic<char*> g_slots[kSlots];
std::mutex g_guard_mutex;
int g_guard_depth = 0;

using Handler = void (*)(int);

struct Installed {
  int signal;
  Handler previous;
};

#ifdef _WIN32
#define ZELD_SIGNALS SIGINT, SIGTERM, SIGBREAK
#else
#define ZELD_SIGNALS SIGINT, SIGTERM, SIGHUP
#endif
constexpr int kSignals[] = {ZELD_SIGNALS};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
Installed g_installed[kSignalCount];

extern "C" void on_signal(int signal) {
  for (auto& slot : g_slots) {
    char* name = slot.load(std::memory_order_acquire);
#ifdef _WIN32
    if (name) _unlink(name);
#else
    if (name) unlink(name);
#endif
  }
  // End the way the signal would have ended the process.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

SignalCleanupGuard::SignalCleanupGuard() {
  std::lock_guard<std::mutex> lock(g_guard_mutex);
  if (g_guard_depth++ > 0) return;
  for (int i = 0; i < kSignalCount; ++i) {
    Handler previous = std::signal(kSignals[i], on_signal);
    // A signal the caller chose to ignore (nohup, a background job) stays
    // ignored.
    if (previous == SIG_IGN) std::signal(kSignals[i], SIG_IGN);
    g_installed[i] = {kSignals[i], previous};
  }
}

SignalCleanupGuard::~SignalCleanupGuard() {
  std::lock_guard<std::mutex> lock(g_guard_mutex);
  if (--g_guard_depth > 0) return;
  for (const Installed& s : g_installed)
    if (s.previous != SIG_ERR) std::signal(s.signal, s.previous);
}

int signal_cleanup_add(const std::string& name) {
  char* copy = static_cast<char*>(std::malloc(name.size() + 1));
  if (!copy) return -1;
  std::memcpy(copy, name.c_str(), name.size() + 1);
  for (int i = 0; i < kSlots; ++i) {
    char* expected = nullptr;
    if (g_slots[i].compare_exchange_strong(expected, copy, std::memory_order_acq_rel)) return i;
  }
  std::free(copy);
  return -1;
}

void signal_cleanup_remove(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  std::free(g_slots[slot].exchange(nullptr, std::memory_order_acq_rel));
}

}  // namespace zeld
