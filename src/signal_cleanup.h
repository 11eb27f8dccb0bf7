// Files that must not outlive the link when it is interrupted: the @-
// option files, and image files and the listing not yet finished. The
// link registers each name here as soon as the file exists (or is named);
// when SIGINT, SIGTERM or SIGHUP (Ctrl-C or Ctrl-Break on Windows) arrives,
// the handler unlinks every registered name and ends the process with the
// signal's usual status.
//
// A signal handler can reach no link context, so this registry is the one
// piece of process-wide state of the linker. It holds copies of the names
// made before the handler may need them; the handler only reads them and
// calls unlink, which is safe in a signal handler.
#pragma once

#include <string>

namespace zeld {

// Installs the handlers for its lifetime; nests (only the outermost guard
// installs and restores).
class SignalCleanupGuard {
 public:
  SignalCleanupGuard();
  ~SignalCleanupGuard();
  SignalCleanupGuard(const SignalCleanupGuard&) = delete;
  SignalCleanupGuard& operator=(const SignalCleanupGuard&) = delete;
};

// Registers a name for deletion on a signal; returns its slot, or -1 when
// the registry is full (the normal clean-up still deletes the file).
int signal_cleanup_add(const std::string& name);
// Forgets a slot (the file was deleted, or is finished and must stay).
void signal_cleanup_remove(int slot);

}  // namespace zeld
