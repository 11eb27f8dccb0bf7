// The line reader and the record dispatcher of the passes; see
// object_reader.h. Pass 0 builds the module headers and hands A, S and d
// lines to the area, symbol and debug collectors; pass 1 pairs its H lines
// with the same headers in order and hands T, R and P lines to relocation.
// Unknown record letters and text after a record's fields are ignored.
#include "object_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "areas.h"
#include "context.h"
#include "debug_info.h"
#include "relocate.h"
#include "symbols.h"

namespace zeld {

namespace {

constexpr std::size_t kReadBufferSize = 256 * 1024;
// Slots reserved up front; the H line's capacity may be far larger than
// what the module really holds, so the rest grows on demand.
constexpr u32 kReserveSlots = 64;

// Radix and byte-order line: X (16), D (10) or Q (8), then H or L for the
// byte order, then optionally the word "xgate".
void read_radix_line(LinkContext& ctx, int letter) {
  Lexer& lex = ctx.lex;
  lex.radix = letter == 'X' ? 16 : letter == 'Q' ? 8 : 10;
  int c = lex.get_char();
  if (c == 'H')
    lex.high_byte_first = true;
  else if (c == 'L')
    lex.high_byte_first = false;
  else
    lex.unget_char(c);
  lex.xgate_module = false;
  if (lex.more_on_line() && equals_ignoring_case(lex.get_identifier(), "xgate")) lex.xgate_module = true;
}

// H line: area capacity, a skipped word, symbol capacity.
Header* new_header(LinkContext& ctx) {
  ObjectReader& r = ctx.reader;
  Header& h = r.headers.emplace_back();
  h.index = r.headers.size() - 1;
  h.input_file = r.current_input_file;
  h.area_capacity = ctx.lex.read_number();
  h.area_parts.reserve(std::min(h.area_capacity, kReserveSlots));
  ctx.lex.skip_word(-1);
  h.symbol_capacity = ctx.lex.read_number();
  h.symbols.reserve(std::min(h.symbol_capacity, kReserveSlots));
  return &h;
}

void set_module_name(LinkContext& ctx, Header* header) {
  std::string_view name = ctx.lex.get_identifier(-1);
  if (header)
    header->name = name;
  else
    ctx.diag.error("no header defined");
}

// Pass 1 walks the headers of pass 0 in order.
Header* next_header(ObjectReader& r) {
  if (!r.current_header) return r.headers.empty() ? nullptr : &r.headers.front();
  std::size_t next = r.current_header->index + 1;
  return next < r.headers.size() ? &r.headers[next] : nullptr;
}

}  // namespace

void LineReader::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void LineReader::fill(std::size_t want) {
  if (eof_) return;
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kReadBufferSize);
  if (pos_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
  }
  while (!eof_ && len_ < want) {
    errno = 0;
    std::size_t got = std::fread(buffer_.get() + len_, 1, kReadBufferSize - len_, file_);
    if (got == 0) {
      eof_ = true;
      if (std::ferror(file_)) {
        failed_ = true;
        error_number_ = errno;
      }
    }
    len_ += got;
  }
}

// A piece is at most kMaxLine bytes; a carriage return within it that comes
// right before a line feed is dropped with the line feed. So the line feed
// that can end a piece lies at most kMaxLine bytes in, one byte further
// when a carriage return precedes it.
bool LineReader::read_line(std::string& line, bool& ended_with_newline) {
  line.clear();
  ended_with_newline = false;
  if (!file_) return false;
  if (len_ - pos_ <= kMaxLine) fill(kMaxLine + 1);
  std::size_t avail = len_ - pos_;
  if (avail == 0) return false;
  const char* start = buffer_.get() + pos_;
  std::size_t window = std::min(avail, kMaxLine + 1);
  const void* found = std::memchr(start, '\n', window);
  if (found) {
    std::size_t n = static_cast<std::size_t>(static_cast<const char*>(found) - start);
    if (n > 0 && start[n - 1] == '\r') {
      line.assign(start, n - 1);
      pos_ += n + 1;
      ended_with_newline = true;
      return true;
    }
    if (n < kMaxLine) {
      line.assign(start, n);
      pos_ += n + 1;
      ended_with_newline = true;
      return true;
    }
  }
  std::size_t piece = std::min(avail, kMaxLine);
  line.assign(start, piece);
  pos_ += piece;
  return true;
}

void start_pass(LinkContext& ctx) {
  ObjectReader& r = ctx.reader;
  r.reader.close();
  r.next_file = 0;
  r.current_input_file = nullptr;
  ctx.lex.radix = 10;
}

bool next_input_line(LinkContext& ctx) {
  ObjectReader& r = ctx.reader;
  for (;;) {
    bool newline = false;
    if (r.reader.is_open() && r.reader.read_line(r.line_buffer, newline)) {
      if (newline) ++ctx.diag.current_line_number;
      return true;
    }
    if (r.reader.failed()) report_read_failure(ctx.diag, r.current_input_file->name, r.reader.error_number());
    r.reader.close();
    if (r.next_file >= ctx.input_files.size()) {
      r.current_input_file = nullptr;
      return false;
    }
    const InputFile& file = *ctx.input_files[r.next_file++];
    r.current_input_file = &file;
    r.reader.open(open_file(ctx.diag, file.name, nullptr, "rb"));
    ctx.diag.set_current_file(file.kind == INPUT_LIBRARY_EXTRACT ? std::string("<library>") : file.name);
    ctx.diag.current_line_number = 0;
  }
}

void dispatch_record(LinkContext& ctx) {
  ObjectReader& r = ctx.reader;
  if (r.dispatch_pass != ctx.link_pass) {
    r.dispatch_pass = ctx.link_pass;
    r.current_header = nullptr;
    r.current_area_part = nullptr;
  }
  bool pass0 = ctx.link_pass == 0;
  int c = ctx.lex.record_letter();
  switch (c) {
    case 0:
      return;
    case 'A':
      if (pass0) r.current_area_part = read_area_record(ctx, r.current_header);
      default_page_state(ctx);
      return;
    case 'D':
    case 'Q':
    case 'X':
      read_radix_line(ctx, c);
      return;
    case 'H':
      r.current_header = pass0 ? new_header(ctx) : next_header(r);
      r.current_area_part = nullptr;
      clear_page_state(ctx);
      return;
    case 'M':
      if (pass0) set_module_name(ctx, r.current_header);
      return;
    case 'P':
    case 'R':
    case 'T':
      if (!pass0) dispatch_relocation_record(ctx, c, r.current_header);
      return;
    case 'S':
      if (pass0) define_symbol(ctx, r.current_header, r.current_area_part);
      return;
    case 'd':
      if (pass0) collect_debug_line(ctx, r.current_area_part);
      return;
    default:
      return;  // unknown records are ignored
  }
}

}  // namespace zeld
