// Reading ahead on the second core. While the link's thread works through
// a list of files (the objects of the pre-scan, the module listings of the
// absolute listing), a reading thread opens the files that come next and
// reads each whole; a prepare step given by the caller may then work on
// the text there (the objects are parsed into what pass 0 would put in
// the record stream, see prepare_object_text), so that the link's thread
// only applies what changes its state. The thread touches nothing of the
// link: it hands over each file in list order, and stays at most a given
// amount of text ahead. The threads wake each other in batches: a full
// window waits until half of it is taken, and a link's thread that finds
// nothing ready waits until a quarter of the window (or a run of files) is,
// so that neither thread sleeps and wakes once per file when the other is
// the slower one. Reading is shared: each time the link's thread takes a
// file, it reads one itself for the reading thread, a few files past the
// one it took, unless the reading thread got there first. When the reading
// thread is the slower, it then only prepares those files; when the link's
// thread is, the reading thread runs ahead and reads them all itself.
//
// It never reports anything. A file that does not exist is handed over as
// not read; one it cannot open or read otherwise, or one that is not a
// plain file (a FIFO, a device), is handed over as not read with every file
// after it. The link's thread then reads those itself and reports what
// fails as it always has.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library.h"
#include "object_reader.h"
#include "source_text.h"

namespace zeld {

// What the prepare step of the objects makes of an object text.
struct PreparedObject {
  PreparedText text;
  std::vector<SymbolMention> symbols;  // the S lines for the library index

  void clear() {
    text.clear();
    symbols.clear();
  }
};

// A file handed over. Thousands may wait at once (the module listings),
// so what only some files have is held apart.
struct PrefetchedFile {
  bool read = false;  // the bytes are the file's whole content
  FileText bytes;
  std::unique_ptr<PreparedObject> parsed;  // the parse of an object text, when made
};

class FilePrefetch {
 public:
  // Runs on the reading thread for each file read, in list order; it may
  // fill the file's other fields, in the room of a parse given back when
  // there is one. A failure to allocate leaves the file to the link's
  // thread.
  using Prepare = std::function<void(PrefetchedFile&, std::unique_ptr<PreparedObject> spare)>;

  // Starts reading `paths` in this order, at most about `ahead_bytes` of
  // text ahead of the link's thread; with `below_link_priority`, the
  // reading thread yields to the link's thread (helper_priority.h).
  FilePrefetch(std::vector<std::string> paths, std::size_t ahead_bytes, Prepare prepare = {},
               bool below_link_priority = false);
  FilePrefetch(const FilePrefetch&) = delete;
  FilePrefetch& operator=(const FilePrefetch&) = delete;
  // Stops the thread (after the file it is reading) and waits for it.
  ~FilePrefetch();

  // The next file of the list, waiting until the thread has it; not read
  // past the end of the list.
  PrefetchedFile take();
  // Gives back the buffer of a file taken and done with, and its parse: a
  // later file is read and parsed into their room. Neither thread then
  // allocates or frees per file, so that the two rarely wait on the lock
  // of the heap they share (the driver keeps one heap for the link).
  void recycle(FileText bytes, std::unique_ptr<PreparedObject> parsed = nullptr);

 private:
  // A file the link's thread reads for the reading thread.
  struct ReadForThread {
    std::size_t index = 0;
    bool done = false;
    FileRead result;
    FileText bytes;
  };

  // What the link's thread gave back, moved to the spares when it next
  // takes the lock.
  struct GivenBack {
    FileText bytes;
    std::unique_ptr<PreparedObject> parsed;
  };

  void run();
  void read_ahead();
  bool batch_ready() const;
  // The link's thread reads file `index` for the reading thread (into
  // `bytes`, a spare) and hands it over.
  void read_for_thread_by_link(std::size_t index, FileText bytes);
  void keep_given_back();  // called with the lock held
  FileText take_spare();   // called with the lock held

  std::vector<std::string> paths_;
  std::size_t ahead_bytes_;  // text handed over but not taken yet, at most
  Prepare prepare_;
  bool below_link_priority_;
  std::mutex mutex_;
  std::condition_variable filled_;   // the link's thread waits for a file
  std::condition_variable drained_;  // the reading thread waits for room
  std::condition_variable read_;     // ... or for a file the link's thread reads
  std::deque<PrefetchedFile> ready_;
  std::size_t ready_bytes_ = 0;
  std::size_t taken_ = 0;
  bool stopping_ = false;
  bool finished_ = false;  // the thread has handed over all it will
  bool waiting_ = false;   // the link's thread waits for a batch
  std::size_t reaching_ = 0;       // the file the reading thread is at
  std::size_t next_for_link_ = 0;  // the link's thread reads from here on
  bool thread_waits_ = false;   // the reading thread waits for read_by_link_
  bool stop_sharing_ = false;   // the reading thread stopped reading
  std::deque<ReadForThread> read_by_link_;  // in file order
  std::vector<FileText> spares_;            // buffers given back
  std::vector<std::unique_ptr<PreparedObject>> spare_parses_;  // parses given back
  std::vector<GivenBack> given_back_;       // the link's thread's alone
  std::thread thread_;
};

// The prepare step of the pre-scan's objects: an object text (not ELF, no
// NUL byte) is parsed as pass 0 would parse it after the objects before it
// in the list, starting in `radix` and `format`, and its S lines are found.
FilePrefetch::Prepare object_text_preparer(int radix, ModuleFormat format);

}  // namespace zeld
