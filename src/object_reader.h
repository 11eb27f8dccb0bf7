// The object-file text format as the passes see it: the input-file list,
// the line reader that presents all files of a pass as one stream of lines,
// the module headers that tie pass 0 to pass 1, and the record dispatcher.
//
//   XH xgate          radix 16, high byte first, an XGATE module
//   H 2 areas 3 global symbols
//   M main.c
//   A text size 1A flags 0
//   S _main Def0000
//   T 00 00 86 01 ...   R 00 00 00 00 ...   (pass 1 only)
//
// Lines hold at most 1023 characters; a longer one comes back in pieces and
// only the piece that ends with the line feed counts as a line. A carriage
// return right before the line feed is dropped on every host.
#pragma once

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;
struct AreaPart;
struct Symbol;

enum InputFileKind : int {
  INPUT_NAMED = 0,            // named on the command line, or the default library
  INPUT_LIBRARY_EXTRACT = 1,  // the temporary file of extracted library members
  INPUT_STARTUP = 2,          // the startup object
};

struct InputFile {
  std::string name;
  int kind = INPUT_NAMED;
};

// One module. Its area_parts and symbols are the number spaces through
// which the module's R and P records name areas and symbols; slots are
// filled in the order of the A and S lines and never emptied, so the
// vectors hold exactly the filled slots and grow up to their capacity.
struct Header {
  const InputFile* input_file = nullptr;
  u32 area_capacity = 0;
  std::vector<AreaPart*> area_parts;
  u32 symbol_capacity = 0;
  std::vector<Symbol*> symbols;
  std::string name;
  std::size_t index = 0;  // position in reading order

  // The part or symbol in slot n, or nullptr when the slot was never filled.
  AreaPart* area_part_at(u32 n) const { return n < area_parts.size() ? area_parts[n] : nullptr; }
  Symbol* symbol_at(u32 n) const { return n < symbols.size() ? symbols[n] : nullptr; }
};

// Streams one file's lines through a fixed buffer; never holds the file.
// Lines are found with memchr over the buffered block; the buffer always
// holds a whole piece and the byte after it (unless the file ends first),
// so every piece is cut from the buffer in one go.
class LineReader {
 public:
  static constexpr std::size_t kMaxLine = 1023;

  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() { close(); }

  void open(std::FILE* f) {
    close();
    file_ = f;
    pos_ = len_ = 0;
    eof_ = false;
    failed_ = false;
    error_number_ = 0;
  }
  void close();
  bool is_open() const { return file_ != nullptr; }

  // Reads the next piece into `line` (without its line feed). Returns false
  // at the end of the file; `ended_with_newline` tells whether a line feed
  // ended the piece.
  bool read_line(std::string& line, bool& ended_with_newline);
  // True when the end came from a read error, not the end of the file;
  // error_number() then gives the system's reason.
  bool failed() const { return failed_; }
  int error_number() const { return error_number_; }

 private:
  // Tops the buffer up to at least `want` unread bytes unless the file
  // ends (or fails) first.
  void fill(std::size_t want);

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
  bool failed_ = false;
  int error_number_ = 0;
};

// Reading state of the passes.
struct ObjectReader {
  // Every module in the order pass 0 read its H line.
  std::deque<Header> headers;

  Header* current_header = nullptr;
  AreaPart* current_area_part = nullptr;
  int dispatch_pass = -1;  // the pass of the previous dispatch

  // Line reader position over the input-file list.
  std::size_t next_file = 0;
  const InputFile* current_input_file = nullptr;
  LineReader reader;
  std::string line_buffer;
};

// Prepares the reader for a pass over ctx.input_files.
void start_pass(LinkContext& ctx);
// Reads the next line of the pass into ctx.reader.line_buffer; false at the
// end of the last file.
bool next_input_line(LinkContext& ctx);
// Handles the line in the buffer for ctx.link_pass.
void dispatch_record(LinkContext& ctx);

}  // namespace zeld
