// An output file of the link (.s19, .hex, .cof, .mp, .emp, .lst, .dbg): the
// open stream and its name. Writers write through get(); when a file is
// complete its writer calls finish(), which flushes and closes it and stops
// the link with "cannot write '<name>': <reason>" when any write, the flush
// or the close failed (a full disk, /dev/full, a quota). A file dropped
// without finish() is closed unchecked: that only happens on a way out
// that already fails.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common.h"

namespace zeld {

class Diagnostics;

// The stream buffer of an output: large writes, few system calls (a link
// writes tens of megabytes).
inline constexpr std::size_t kOutputBufferSize = std::size_t{1} << 16;

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }
  OutputFile& operator=(OutputFile&& other) noexcept;
  ~OutputFile() { reset(); }

  // Creates base.extension with a standard mode ("w" or "wb"); failure is
  // fatal ("cannot create '...'", open_file).
  static OutputFile create(Diagnostics& diag, const std::string& base, const char* extension, const char* mode);
  // The name create() gives the file.
  static std::string name_for(const std::string& base, const char* extension) {
    return extension ? base + "." + extension : base;
  }

  std::FILE* get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  const std::string& name() const { return name_; }

  // Closes unchecked and adopts `f` (named `name`), if any.
  void reset(std::FILE* f = nullptr, std::string name = {});
  // Flushes and closes; any failure since the file was made is fatal.
  void finish(Diagnostics& diag);

 private:
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's, freed after it is closed
  std::string name_;
};

// Writes text as it stands (the report writers' one way to put text).
// Each stream is written by one thread only, so the C library's lock per
// call is skipped where the library offers that. With the GNU C library
// the text goes straight into the stream's buffer when that has room, as
// the library's own putc_unlocked does for one character: a link puts
// millions of short lines.
inline void put(std::FILE* f, std::string_view text) {
#if defined(__GLIBC__)
  if (text.empty()) return;  // an empty text may have no place at all
  if (static_cast<std::size_t>(f->_IO_write_end - f->_IO_write_ptr) > text.size()) {
    std::memcpy(f->_IO_write_ptr, text.data(), text.size());
    f->_IO_write_ptr += text.size();
    return;
  }
  fwrite_unlocked(text.data(), 1, text.size(), f);
#else
  std::fwrite(text.data(), 1, text.size(), f);
#endif
}
// Writes value in upper-case hexadecimal with at least `width` digits,
// zeros in front (printf's "%0*X", without its cost per call).
void put_hex(std::FILE* f, u32 value, int width = 1);

// True when `name` is a plain file (not a device, pipe or link), so that
// deleting it cannot remove anything but the link's own output.
bool is_plain_file(const std::string& name);

}  // namespace zeld
