// Every report the linker makes about its input or itself goes through
// Diagnostics, so all of them share one shape:
//
//   !E main.o(12): {linker} multiple define: 'foo'      counted error at a place
//   !ERROR {linker} unknown output format: x            counted error, no place
//   !E {linker} cannot open 'a.o'                        fatal
//
// Counted errors let the link run on (it fails at the end); fatal and
// internal errors, failed consistency checks and the fourteenth counted
// error stop it. Stopping never exits from here: the reporter throws
// LinkAbort with the exit status, and main runs the clean-up and returns
// that status. Each report is written whole and the stream flushed.
//
// Only the shape lives here; the message texts belong to the subsystems
// that report them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common.h"

namespace zeld {

// Thrown to end the link; main catches it and returns `status`.
struct LinkAbort {
  int status;
};

// Ends the link with `status`: every stop of the link goes through here, and
// link_main turns it into the exit status after the clean-up.
[[noreturn]] inline void stop_link(int status) { throw LinkAbort{status}; }

// Where a counted error points: a file (or another name the report gives
// as its source) and a line ("!E file(12):"), or a file alone when lines
// mean nothing there, as in an ELF object ("!E file:"). No file means the
// report concerns the link as a whole.
struct ReportPlace {
  static constexpr int kNoLine = -1;
  std::optional<std::string> file;
  int line = 0;
};

// Exit statuses of the process.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 1;     // usage, option files, consistency checks
inline constexpr int kExitFailure = -1;  // everything else that stops a link

class Diagnostics {
 public:
  explicit Diagnostics(std::FILE* err = stderr) : err_(err) {}

  std::FILE* stream() const { return err_; }

  // "!ERROR {linker} msg", then counts it.
  void error(const char* fmt, ...) ZELD_PRINTF(2, 3);
  // "!E file(line): {linker} msg" (or the form above when the place has no
  // file), then counts it.
  void error_at(const ReportPlace& place, const char* fmt, ...) ZELD_PRINTF(3, 4);
  // "!E {linker} msg"; status -1.
  [[noreturn]] void fatal(const char* fmt, ...) ZELD_PRINTF(2, 3);
  // The internal-error banner and msg; status -1.
  [[noreturn]] void internal(const char* fmt, ...) ZELD_PRINTF(2, 3);
  // The consistency-check banner; status 1.
  [[noreturn]] void assert_failed(const char* expression, const char* source, int line);

  // Adds one error; the fourteenth stops the link.
  void count_error();
  // Adds one error without the limit (undefined symbols listed in the map).
  void add_error_uncounted_limit() { ++error_count_; }
  int error_count() const { return error_count_; }

  // Holding: while held, reports are kept instead of written, counted
  // errors are not counted yet, and a stop still unwinds (LinkAbort) but is
  // kept as the last report. release() then writes the kept reports in
  // order, counting each counted error as it goes (so the limit stops where
  // it would have), and ends with the kept stop, if any. Used where the
  // link does work early whose reports must come after those of work that
  // logically precedes it.
  void hold(bool on) { holding_ = on; }
  // Ends the held reports with a stop of `status` unless they end so.
  void hold_stop(int status);
  void release();
  // Takes over the reports `held` kept (reports made on another thread, by
  // work that logically follows this one's): writes them here in order as
  // release() would, with the errors `held` counted beyond the limit.
  void release_from(Diagnostics& held);

  // Writes free text (traces, usage lines of the allocator) and flushes.
  void write(const char* fmt, ...) ZELD_PRINTF(2, 3);

 private:
  enum class Held : u8 { kText, kCountedError, kStop };
  struct HeldReport {
    Held kind;
    int status;
    std::string text;
  };
  // Writes `text` now, or keeps it while holding.
  void emit(Held kind, std::string text, int status = 0);
  // Ends holding and gives what was held.
  std::vector<HeldReport> take_held();
  // Writes held reports in order, counting each counted error as it goes
  // (so the limit stops where it would have), and stops at a kept stop.
  void replay(const std::vector<HeldReport>& reports);
  [[noreturn]] void stop(int status);
  void counted_error(const ReportPlace* place, const char* fmt, std::va_list args);

  std::FILE* err_;
  int error_count_ = 0;
  bool holding_ = false;
  int held_errors_ = 0;
  std::vector<HeldReport> held_;
};

// Address printed in the internal-error and consistency-check banners.
inline constexpr const char* kSupportAddress = "zeld12-support@example.org";

// Checks an invariant of one routine, which no input can break: the banner
// shows `text` (a fixed description, so that renaming a variable changes no
// report) and names the source by `source`.
#define ZELD_CHECK(diag, expr, text, source)                   \
  do {                                                         \
    if (!(expr)) (diag).assert_failed(text, source, __LINE__); \
  } while (0)

// Opens base[.ext] with a standard mode ("r", "w", "wb", "rb"). Failure,
// and a name longer than 259 characters, are fatal: "cannot open '...'"
// or "cannot create '...'", followed by the system's reason when the file
// exists (no permission, too many open files). A directory opened for
// reading is a read failure. The stream is closed by the caller.
std::FILE* open_file(Diagnostics& diag, const std::string& base, const char* extension,
                     const char* mode);

// The fatal report of a failed open: "cannot <verb> '<name>'" and the reason.
[[noreturn]] void report_open_failure(Diagnostics& diag, const std::string& name, const char* verb, int error_number);
// The system's reason for a failed open, as ": <reason>" to follow a
// message; empty for a file that does not exist, whose message says enough.
std::string system_reason(int error_number);
// The fatal report of a failed read: "cannot read '<name>': <reason>".
[[noreturn]] void report_read_failure(Diagnostics& diag, const std::string& name, int error_number);
// A directory opens like a file on some hosts; reading it is refused here:
// the stream is closed and the read-failure report stops the link.
void check_not_directory(Diagnostics& diag, std::FILE* f, const std::string& name);

}  // namespace zeld
