// Whole-file reading and the line reader of the text inputs; see
// source_text.h.
#include "source_text.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "diagnostics.h"

namespace zeld {

std::string read_whole_stream(Diagnostics& diag, std::FILE* f, const std::string& name) {
  check_not_directory(diag, f, name);  // closes and stops on a folder
  std::string text;
  if (!read_stream_text(f, text)) {
    int error_number = errno;
    std::fclose(f);
    report_read_failure(diag, name, error_number);
  }
  std::fclose(f);
  return text;
}

bool read_stream_text(std::FILE* f, std::string& text) {
  // Sized from the file's length plus one byte, so that the read that
  // meets the end needs no second buffer; a file that grows meanwhile, or
  // a pipe, makes the buffer grow.
  std::size_t size = 4096;
#ifdef _WIN32
  struct _stat64 st;
  if (_fstat64(_fileno(f), &st) == 0 && st.st_size > 0) size = static_cast<std::size_t>(st.st_size) + 1;
#else
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && st.st_size > 0) size = static_cast<std::size_t>(st.st_size) + 1;
#endif
  text.resize(size);
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) text.resize(text.size() * 2);
    errno = 0;
    std::size_t got = std::fread(text.data() + used, 1, text.size() - used, f);
    used += got;
    if (got == 0) break;
  }
  text.resize(used);
  return !std::ferror(f);
}

std::size_t first_nul(std::string_view text) {
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : std::string_view::npos;
}

// The line feed that ends a line lies at most max_ characters in, one
// further when a carriage return precedes it.
bool LineSplitter::next(std::string_view& line, bool& ended_with_newline) {
  ended_with_newline = false;
  std::size_t avail = text_.size() - pos_;
  if (avail == 0) return false;
  const char* start = text_.data() + pos_;
  std::size_t window = avail < max_ + 1 ? avail : max_ + 1;
  if (const void* found = std::memchr(start, '\n', window)) {
    std::size_t n = static_cast<std::size_t>(static_cast<const char*>(found) - start);
    if (n > 0 && start[n - 1] == '\r') {
      line = std::string_view(start, n - 1);
      pos_ += n + 1;
      ended_with_newline = true;
      return true;
    }
    if (n < max_) {
      line = std::string_view(start, n);
      pos_ += n + 1;
      ended_with_newline = true;
      return true;
    }
  }
  std::size_t piece = avail < max_ ? avail : max_;
  line = std::string_view(start, piece);
  pos_ += piece;
  return true;
}

bool PieceSplitter::next(std::string_view& piece) {
  std::size_t avail = text_.size() - pos_;
  if (avail == 0) return false;
  const char* start = text_.data() + pos_;
  std::size_t window = avail < max_ ? avail : max_;
  const void* newline = std::memchr(start, '\n', window);
  std::size_t take = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1 : window;
  piece = std::string_view(start, take);
  pos_ += take;
  return true;
}

}  // namespace zeld
