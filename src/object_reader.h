// The object-file text format as the passes see it: the input-file list,
// pass 0 over each input's text, the module headers that tie pass 0 to
// pass 1, and pass 1's walk over the records pass 0 parsed.
//
//   XH xgate          radix 16, high byte first, an XGATE module
//   H 2 areas 3 global symbols
//   M main.c
//   A text size 1A flags 0
//   S _main Def0000
//   T 00 00 86 01 ...   R 00 00 00 00 ...   (parsed in pass 0, applied in pass 1)
//
// Every input is read once, as a whole buffer. Pass 0 hands A, S and d
// lines to their collectors as it meets them, and parses T, R and P lines
// into the record stream; pass 1 walks that stream. Lines hold at most 1023
// characters; a longer one comes back in pieces and only the piece that
// ends with the line feed counts as a line. A carriage return right before
// the line feed is dropped on every host.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "diagnostics.h"
#include "record_stream.h"
#include "relocate.h"

namespace zeld {

struct LinkContext;
class Lexer;
struct AreaPart;
struct Symbol;

enum class InputKind : u8 {
  kNamed,           // named on the command line, or the default library
  kLibraryMembers,  // the members taken from the libraries, read as "<library>"
  kStartup,         // the startup object
  kArchiveMember,   // an ELF object taken from an ar archive, named "archive(member)"
};

struct InputFile {
  std::string name;
  InputKind kind = InputKind::kNamed;
  bool elf = false;  // an ELF object (named, or an archive member), found so by its content
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

// The longest line of object text; longer ones come in pieces.
inline constexpr std::size_t kMaxObjectLine = 1023;

// Reading state of the passes.
struct ObjectReader {
  // Every module in the order pass 0 read its H line.
  std::deque<Header> headers;
  // What pass 1 walks, and the inputs its file entries name.
  RecordStream records;
  std::vector<const InputFile*> files;

  // The place reports about the input point at: the line pass 0 reads, the
  // record pass 1 relocates; between the passes, where pass 0 ended.
  ReportPlace place;

  // The format in force: set by radix lines, and carried on to the next
  // module and file until the next radix line, as the format is read.
  int radix = 10;
  ModuleFormat format;

  // Pass 0's place in the inputs.
  Header* current_header = nullptr;
  AreaPart* current_area_part = nullptr;

  // Pass 0 run by the pre-scan: over how many inputs (the first of the
  // list), and whether a stop ended it.
  std::size_t early_pass0_files = 0;
  bool early_pass0_stopped = false;

  // While set, an S line that begins with its letter and whose name the
  // library pre-scan reads alike marks its symbol (SYM_SCANNED_*): the
  // pre-scan left that name to the symbol table.
  bool mark_scanned_symbols = false;
};

// Sets ObjectReader::mark_scanned_symbols for the time of one read.
class MarkScannedSymbols {
 public:
  MarkScannedSymbols(ObjectReader& reader, bool on) : reader_(reader) { reader_.mark_scanned_symbols = on; }
  ~MarkScannedSymbols() { reader_.mark_scanned_symbols = false; }
  MarkScannedSymbols(const MarkScannedSymbols&) = delete;
  MarkScannedSymbols& operator=(const MarkScannedSymbols&) = delete;

 private:
  ObjectReader& reader_;
};

// A new module of `file`, appended to the headers (as an H line makes
// one); the caller adds the kHeader entry to the record stream.
Header& add_module_header(LinkContext& ctx, const InputFile& file, u32 area_capacity, u32 symbol_capacity);

// False for inputs whose reports name no line (ELF objects).
bool has_lines(const InputFile& file);
// The name reports give for lines of `file`.
std::string display_name(const InputFile& file);

// Pass 0 over the text of one input: sets the report location, hands each
// line to its handler and appends the parsed records of pass 1.
void read_object_text(LinkContext& ctx, const InputFile& file, std::string_view text);

// An object text parsed ahead of pass 0, away from the link's state (on
// the reading thread): its T, R and P records and format events as they
// will stand in the record stream between the file's start and end, and
// the lines left for pass 0's handlers of modules, areas, symbols and
// debug lines. The parse assumed the format in force at its start.
struct PreparedText {
  // A line of the state side, or a d line entry parsed here (length
  // kLineEntry), whose numbers are the next of `line_entries`.
  struct Line {
    std::size_t offset = 0;  // in the file's text
    u32 length = 0;          // at most a line's 1023 characters
    int number = 0;          // the line number reports give
  };
  static constexpr u32 kLineEntry = ~u32{0};
  struct LineEntry {
    u32 line = 0, address = 0;
  };
  int start_radix = 10, end_radix = 10;
  ModuleFormat start_format, end_format;
  RecordStream records{RecordStream::kSmallBlockSize};  // one file's entries
  std::vector<Line> lines;
  std::vector<LineEntry> line_entries;
  int line_count = 0;
  std::size_t longest_line = 0;  // characters of the longest line, its line feed included

  // As made, with the room of its lists kept for the next file.
  void clear();
};

// Parses `text` as pass 0 would, starting in the given format. Touches
// nothing but `out`, so it may run on another thread.
void prepare_object_text(std::string_view text, int radix, ModuleFormat format, PreparedText& out);
// Pass 0 over an input parsed ahead: the same outcome as read_object_text
// over the same text. False (and nothing done) when the format in force
// is not the one the parse assumed; the caller then reads the text.
bool read_prepared_text(LinkContext& ctx, const InputFile& file, std::string_view text, PreparedText& prepared);

// Parses a T, R or P line (after its letter) into `entry`, as pass 0 does.
void parse_record_line(Lexer& lex, int letter, RecordEntry& entry);

// Pass 1: walks the record stream and relocates every record.
void relocate_records(LinkContext& ctx);

}  // namespace zeld
