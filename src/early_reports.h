// The map (.mp, and .emp with extended labels) and the debug file (.dbg)
// describe the placed link; pass 1's relocation changes nothing in them.
// When a link reaches pass 1 without an error, their text is made on a
// thread of its own while pass 1 and the listing run on the link's thread,
// each into a nameless temporary file (spill_file.h), in the folder of its
// file where the system allows; the debug file, the largest, goes first.
// At their turn, after the listing, finish() makes the files and copies
// the texts in, or, for a file that does not exist yet, gives the text's
// file its name; a report the thread has not begun by then the link's
// thread writes itself, while the thread finishes the one it is making.
// Everything observable stays as if they were written then: the files are
// made at the same point (a link that fails before never touches them),
// their reports come after those of pass 1 and the listing, and a file
// that cannot be made or written is reported as before.
//
// A report whose text could not be kept (no temporary file, a full disk,
// no memory) is simply written at its turn, as a link without this thread
// writes them all.
//
// While the thread runs, the link's thread changes nothing the reports
// read: pass 1 and the listing only read the symbols, areas, modules and
// debug records, and write the image, the relocation state and their own
// outputs.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics.h"
#include "map_file.h"
#include "output_file.h"

namespace zeld {

struct LinkContext;

class EarlyReports {
 public:
  // Whether this link makes its reports beside pass 1: no error so far,
  // no COFF file (whose debug entries come from the same walk over the
  // debug records, and whose image pass 1 fills), and no static debug
  // name too long for a symbol (whose report belongs after pass 1's, at
  // the place pass 1 ends: the statics are defined before pass 1 here).
  static bool wanted(const LinkContext& ctx);

  // Starts the thread. The static debug symbols are defined by now
  // (relocate_debug_records).
  explicit EarlyReports(const LinkContext& ctx);
  EarlyReports(const EarlyReports&) = delete;
  EarlyReports& operator=(const EarlyReports&) = delete;
  ~EarlyReports();  // waits for the thread

  // Writes the reports' files, in the order and with the reports of a
  // link that makes them now (which may stop the link).
  void finish(Diagnostics& diag);

 private:
  enum class Kind { kMap, kExtendedMap, kDebug };
  static MapKind map_kind(Kind kind) { return kind == Kind::kExtendedMap ? MapKind::Extended : MapKind::Standard; }
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  // One report's text, kept for its turn.
  struct Kept {
    explicit Kept(std::FILE* err) : held(err) { held.hold(true); }
    std::unique_ptr<char[]> buffer;  // text's, which is closed before it
    std::unique_ptr<std::FILE, FileCloser> text;
    bool beside = false;  // made in the folder of its file, which it may become
    Diagnostics held;  // its reports while it was made; the last may stop the link
  };

  // Where a report stands: left for its turn, taken by the thread, or
  // done there (`kept` empty when its text could not be kept), or taken
  // by the link's thread at its turn.
  enum class State { kLeft, kMaking, kMade, kTakenAtTurn };
  struct Report {
    Kind kind;
    State state = State::kLeft;
    std::unique_ptr<Kept> kept;
  };

  std::vector<Kind> kinds() const;
  void make_texts();
  // The thread's text of one report; false when no more texts can be kept.
  bool make_text(Report& report);
  // A report's text to `out`, its file, and both at once (its turn).
  void write_text(Kind kind, Diagnostics& diag, std::FILE* out) const;
  const char* extension(Kind kind) const;
  std::string file_name(Kind kind) const;
  OutputFile create_file(Kind kind, Diagnostics& diag) const;
  // Gives a text kept beside its file the file's name, when no file has
  // it yet (a first link), and closes it; false (nothing done) otherwise.
  bool name_kept_text(Kind kind, Kept& kept, Diagnostics& diag) const;
  void write_now(Kind kind, Diagnostics& diag) const;

  const LinkContext& ctx_;
  std::vector<Report> reports_;  // in the order of their files
  std::mutex mutex_;             // guards the states
  std::condition_variable made_;
  std::thread thread_;
};

}  // namespace zeld
