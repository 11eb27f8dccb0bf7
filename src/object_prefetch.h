// Reading ahead on the second core. While the pre-scan works through the
// input list, a reading thread opens the object files that come next,
// reads each whole and parses its text into what pass 0 would put in the
// record stream (prepare_object_text), so that the link's own thread only
// applies the lines that change its state. The thread touches nothing of
// the link: it hands over each file in list order, and stays at most a
// few megabytes of text ahead.
//
// It never reports anything. A file it cannot open or read, or one that is
// not a plain file (a FIFO, a device), and every file after it, is handed
// over as not read: the pre-scan then reads it itself
// and reports the failure as it always has. Binary files (ELF objects) come
// back read but not parsed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library.h"
#include "object_reader.h"

namespace zeld {

struct PrefetchedFile {
  bool read = false;    // the bytes are the file's whole content
  bool parsed = false;  // `text` holds the parse of an object text
  std::string bytes;
  PreparedText text;
  std::vector<SymbolMention> symbols;  // when parsed: the S lines for the library index
};

class ObjectPrefetch {
 public:
  // Starts reading `paths` in this order, the first in the format pass 0
  // starts with.
  ObjectPrefetch(std::vector<std::string> paths, int radix, ModuleFormat format);
  ObjectPrefetch(const ObjectPrefetch&) = delete;
  ObjectPrefetch& operator=(const ObjectPrefetch&) = delete;
  // Stops the thread (after the file it is reading) and waits for it.
  ~ObjectPrefetch();

  // The next file of the list, waiting until the thread has it.
  PrefetchedFile take();

 private:
  void run(int radix, ModuleFormat format);
  void read_ahead(int radix, ModuleFormat format);

  // How far the thread may run ahead: text bytes handed over but not
  // taken yet.
  static constexpr std::size_t kAheadBytes = std::size_t{1} << 20;

  std::vector<std::string> paths_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<PrefetchedFile> ready_;
  std::size_t ready_bytes_ = 0;
  std::size_t taken_ = 0;
  bool stopping_ = false;
  bool finished_ = false;  // the thread has handed over all it will
  std::thread thread_;
};

}  // namespace zeld
