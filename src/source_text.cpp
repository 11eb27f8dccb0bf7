// Whole-file reading and the line reader of the text inputs; see
// source_text.h.
#include "source_text.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "diagnostics.h"

namespace zeld {

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

void FileText::assign(std::string_view text) {
  if (!text.empty()) std::memcpy(make_room(text.size(), 0), text.data(), text.size());
  size_ = text.size();
}

char* FileText::make_room(std::size_t capacity, std::size_t keep) {
  if (capacity > capacity_) {
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (keep != 0) std::memcpy(bigger.get(), buffer_.get(), keep);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
  }
  return buffer_.get();
}

#ifdef _WIN32
FileRead read_file(const std::string& path, std::string& text, bool plain_only, bool host_text) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), host_text ? "r" : "rb");
  if (!f) return {FileRead::kCannotOpen, errno};
  struct _stat64 st;
  FileRead result;
  if (_fstat64(_fileno(f), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR)
    result = {FileRead::kFolder, EISDIR};
  else if (plain_only && (st.st_mode & _S_IFMT) != _S_IFREG)
    result = {FileRead::kNotPlain, 0};
  else if (!read_stream_text(f, text))
    result = {FileRead::kReadError, errno};
  if (std::fclose(f) != 0 && result.status == FileRead::kRead) result = {FileRead::kReadError, errno};
  return result;
}

FileRead read_file(const std::string& path, FileText& text, bool plain_only, bool host_text) {
  std::string read;
  FileRead result = read_file(path, read, plain_only, host_text);
  text.assign(read);
  return result;
}
#else
namespace {

// What reading needs of a string or a FileText: room that keeps what was
// read, and the final size.
char* room_for(std::string& text, std::size_t capacity, std::size_t /*keep*/) {
  text.resize(capacity);
  return text.data();
}
char* room_for(FileText& text, std::size_t capacity, std::size_t keep) { return text.make_room(capacity, keep); }
void end_at(std::string& text, std::size_t size) { text.resize(size); }
void end_at(FileText& text, std::size_t size) { text.set_size(size); }

template <class Text>
FileRead read_whole_file(const std::string& path, Text& text, bool plain_only) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (plain_only ? O_NONBLOCK : 0));
  if (fd < 0) return {FileRead::kCannotOpen, errno};
  FileRead result;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    result = {FileRead::kReadError, errno};
  } else if (S_ISDIR(st.st_mode)) {
    result = {FileRead::kFolder, EISDIR};
  } else if (plain_only && !S_ISREG(st.st_mode)) {
    result = {FileRead::kNotPlain, 0};
  } else {
    // One byte more than the file holds, so that a file read whole is
    // known by the short read; a file that grows meanwhile, or a pipe,
    // makes the buffer grow.
    const bool plain = S_ISREG(st.st_mode) && st.st_size > 0;
    const std::size_t expected = plain ? static_cast<std::size_t>(st.st_size) : 0;
    std::size_t room = plain ? expected + 1 : 4096;
    char* p = room_for(text, room, 0);
    std::size_t used = 0;
    for (;;) {
      if (used == room) {
        room *= 2;
        p = room_for(text, room, used);
      }
      ssize_t got = ::read(fd, p + used, room - used);
      if (got < 0) {
        if (errno == EINTR) continue;
        result = {FileRead::kReadError, errno};
        break;
      }
      if (got == 0) break;
      used += static_cast<std::size_t>(got);
      if (plain && used == expected) break;  // the whole file, as fstat gave it
    }
    end_at(text, used);
  }
  ::close(fd);  // nothing was written: a failing close loses nothing read
  return result;
}

}  // namespace

FileRead read_file(const std::string& path, std::string& text, bool plain_only, bool /*host_text*/) {
  return read_whole_file(path, text, plain_only);
}
FileRead read_file(const std::string& path, FileText& text, bool plain_only, bool /*host_text*/) {
  return read_whole_file(path, text, plain_only);
}
#endif

std::string read_file_or_stop(Diagnostics& diag, const std::string& path, const char* what) {
  std::string text;
  FileRead result = read_file(path, text);
  if (result.status == FileRead::kCannotOpen)
    diag.fatal("can't open %s '%s'%s", what, path.c_str(), system_reason(result.error_number).c_str());
  if (result.status != FileRead::kRead) report_read_failure(diag, path, result.error_number);
  return text;
}

std::size_t first_nul(std::string_view text) {
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) : std::string_view::npos;
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
