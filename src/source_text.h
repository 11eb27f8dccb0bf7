// The text inputs of a link as whole buffers: every object file, library
// archive, module listing and option file is read into memory once, and
// its lines are cut from the buffer where they lie. The one line reader of
// the linker lives here, with the two ways its inputs end a line:
//
//   LineSplitter    lines of at most N characters (objects: 1023); a longer
//                   line comes back in pieces, and a carriage return right
//                   before the line feed is dropped with it, on every host.
//   PieceSplitter   pieces of at most N characters that keep their line
//                   feed (library archives and their pre-scan: 255).
//
// Reading is checked: a folder or a read error stops the link with a
// message that names the file.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace zeld {

class Diagnostics;

// Reads the rest of `f` into `text` without reporting anything; false on a
// read error (a folder, for one). The stream stays open.
bool read_stream_text(std::FILE* f, std::string& text);

// The bytes of a file read whole, for the inputs read by the tens of
// thousands: unlike a string's, the buffer is not cleared before the file
// is read into it, and its room stays for the next file read into it.
class FileText {
 public:
  FileText() = default;
  explicit FileText(std::string_view text) { assign(text); }
  // A text moved from is empty and has no room.
  FileText(FileText&& other) noexcept
      : buffer_(std::move(other.buffer_)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  FileText& operator=(FileText&& other) noexcept {
    buffer_ = std::move(other.buffer_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }

  const char* data() const { return buffer_.get(); }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  operator std::string_view() const { return {buffer_.get(), size_}; }

  void assign(std::string_view text);
  // Room for `capacity` bytes, of which the first `keep` stay as they are;
  // the rest is not cleared.
  char* make_room(std::size_t capacity, std::size_t keep);
  // The first `size` bytes of the room are the text.
  void set_size(std::size_t size) { size_ = size; }

 private:
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0, capacity_ = 0;
};

// How reading a named file whole ended; `error_number` is the system's
// reason of a failed open or read.
struct FileRead {
  enum Status { kRead, kCannotOpen, kFolder, kNotPlain, kReadError };
  Status status = kRead;
  int error_number = 0;
};

// Reads the file `path` whole into `text` without reporting anything: on a
// POSIX host one open, one fstat, reads straight into a buffer of the
// file's size, and a close; elsewhere through the C library (`host_text`
// opens it in the host's text mode there). With `plain_only` anything but
// a plain file comes back kNotPlain without being read, and opening it
// never waits (a FIFO nobody writes to).
FileRead read_file(const std::string& path, std::string& text, bool plain_only = false, bool host_text = false);
FileRead read_file(const std::string& path, FileText& text, bool plain_only = false, bool host_text = false);

// Reads `path` whole, or stops the link: a file that cannot be opened is
// "can't open <what> '<path>'" with the system's reason, a folder or a read
// error "cannot read '<path>': <reason>".
std::string read_file_or_stop(Diagnostics& diag, const std::string& path, const char* what);

// Offset of the first NUL byte of `text`, or npos: a file that holds one is
// binary, not object text.
std::size_t first_nul(std::string_view text);

// No limit on the length of a line (option files).
inline constexpr std::size_t kUnlimitedLine = static_cast<std::size_t>(-1) / 2;

namespace text_detail {

// Bit i set for each line feed at p[i], over the first min(avail, 64)
// bytes: a whole block with the host's vector compare where it has one,
// else (and for a text's last bytes) a byte at a time.
inline std::uint64_t newline_bits(const char* p, std::size_t avail) {
#ifdef __SSE2__
  if (avail >= 64) {
    const __m128i newline = _mm_set1_epi8('\n');
    auto bits = [&](int at) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline))));
    };
    return bits(0) | bits(16) << 16 | bits(32) << 32 | bits(48) << 48;
  }
#endif
  const std::size_t n = avail < 64 ? avail : 64;
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < n; ++i) bits |= static_cast<std::uint64_t>(p[i] == '\n') << i;
  return bits;
}

}  // namespace text_detail

// Lines of a text, each at most max_length characters (without its line
// feed). A line feed that comes after max_length characters ends the next
// piece instead; a carriage return right before a line feed goes with it.
//
// The line feeds are found 64 bytes at a time, as a mask of where they lie
// in the block; a line then costs a bit taken from the mask, however short
// it is, and a long line without one is passed over once.
class LineSplitter {
 public:
  LineSplitter(std::string_view text, std::size_t max_length)
      : text_(text), max_(max_length), mask_(text_detail::newline_bits(text.data(), text.size())) {
    newline_ = take_newline();
  }

  // The next line or piece; false at the end. `ended_with_newline` tells
  // whether a line feed ended it; the text then goes on right after the
  // line with its CR or LF.
  bool next(std::string_view& line, bool& ended_with_newline) {
    ended_with_newline = false;
    const std::size_t avail = text_.size() - pos_;
    if (avail == 0) return false;
    const char* start = text_.data() + pos_;
    // The line feed ends this line when it lies at most max_ characters
    // in, one further when a carriage return precedes it.
    const std::size_t n = newline_ - pos_;
    if (n < avail && n <= max_ && (n < max_ || (n > 0 && start[n - 1] == '\r'))) {
      line = std::string_view(start, n > 0 && start[n - 1] == '\r' ? n - 1 : n);
      pos_ = newline_ + 1;
      newline_ = take_newline();
      ended_with_newline = true;
      return true;
    }
    const std::size_t piece = avail < max_ ? avail : max_;
    line = std::string_view(start, piece);
    pos_ += piece;
    return true;
  }
  std::size_t offset() const { return pos_; }

 private:
  // Offset of the next line feed not taken yet; the text's size when none
  // is left.
  std::size_t take_newline() {
    while (mask_ == 0)
      if (!next_block()) return text_.size();
    const std::size_t at = block_ + static_cast<std::size_t>(std::countr_zero(mask_));
    mask_ &= mask_ - 1;
    return at;
  }
  // Moves to the next block and fills the mask; false past the text's end.
  bool next_block() {
    if (text_.size() - block_ <= 64) return false;
    block_ += 64;
    mask_ = text_detail::newline_bits(text_.data() + block_, text_.size() - block_);
    return true;
  }

  std::string_view text_;
  std::size_t max_;
  std::size_t pos_ = 0;
  std::size_t block_ = 0;       // offset of the block the mask covers
  std::uint64_t mask_ = 0;      // its line feeds not taken yet, one bit each
  std::size_t newline_ = 0;     // the first line feed at or after pos_
};

// Pieces of a text of at most max_length characters each, a piece ending
// after its line feed when one comes first.
class PieceSplitter {
 public:
  PieceSplitter(std::string_view text, std::size_t max_length) : text_(text), max_(max_length) {}

  // The next piece (with its line feed, if any); false at the end.
  bool next(std::string_view& piece);
  // Offset of the next piece in the text.
  std::size_t offset() const { return pos_; }
  void seek(std::size_t offset) { pos_ = offset < text_.size() ? offset : text_.size(); }

 private:
  std::string_view text_;
  std::size_t max_;
  std::size_t pos_ = 0;
};

}  // namespace zeld
