// A temporary file that holds data the link has finished writing until it
// reads it again: the parsed records wait in it between pass 0 and pass 1
// instead of in the process's memory (record_stream.h), and so do the
// reports written beside pass 1 until their turn (early_reports.h). The
// file has no name from the moment it exists, so nothing of it stays behind
// on any way out of the link, a signal or a crash included; the system
// drops its blocks when the link closes it, before most of them ever reach
// a disk.
//
// Where the host offers no such file (Windows, a temporary folder that is
// missing or read-only), `open` gives none and the caller does without:
// a link never fails for want of a temporary file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "common.h"

namespace zeld {

class SpillFile {
 public:
  // A file in the folder TMPDIR names, or else /tmp; none when it cannot
  // be made.
  static std::unique_ptr<SpillFile> open();
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  // Appends `size` bytes and gives where they went; false when not all of
  // them were written (a full disk): the caller keeps them instead.
  bool append(const void* data, std::size_t size, u64& offset);
  // Reads `size` bytes from `offset`; false with errno set on a failure or
  // a file shorter than that.
  bool read(u64 offset, void* data, std::size_t size) const;

 private:
  explicit SpillFile(int fd) : fd_(fd) {}
  int fd_ = -1;
  u64 end_ = 0;
};

// The same file as a stream to write and then read back (opened "w+");
// null when none can be made. The caller closes it.
std::FILE* open_temporary_stream();

// Such a stream in the folder of the file `name`, made as a new output
// file would be (its mode, the umask), so that it may take that name at
// its turn instead of being copied there. Only while nothing has that
// name: a file written over later is copied into from TMPDIR as before,
// and never needs room for its text twice on its own file system. Null
// then, on hosts other than Linux, or when the folder takes no nameless
// file.
std::FILE* open_temporary_stream_beside(const std::string& name);
// Gives the file of such a stream, flushed first, the name `name` if no
// file has it yet, with the present as its time of change: it appears
// whole at once. False when anything stops that (the name is taken, the
// host or file system cannot do it); the file then stays as it was.
bool name_temporary_stream(std::FILE* f, const std::string& name);

}  // namespace zeld
