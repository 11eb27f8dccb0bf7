// Library search directories (-L), the lookup of library and startup files
// in them, and the pre-scan of the input files before pass 0 that reads
// every input once and turns the libraries into one text of the members
// the link needs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;

inline constexpr std::size_t kMaxLibraryPaths = 10;

struct LibraryState {
  std::vector<std::string> library_paths;  // in -L order, normalized
  std::string member_text;                 // the selected members, until pass 0 reads them
};

// The -L handler: stores the directory; an eleventh is a counted error.
void add_library_path(LinkContext& ctx, const std::string& directory);
// The readable path of `name`, searched through the library directories
// (last given first) unless rooted; fatal when there is none.
std::string find_in_library_paths(LinkContext& ctx, const std::string& name);
// An S line of an object text as the pre-scan reads it: the name (its
// place in the text) and whether the line is a reference.
struct PreparedText;

struct SymbolMention {
  std::size_t offset = 0, length = 0;
  bool reference = false;
  // Pass 0 reads the same name from the line (symbol_name_reads_alike),
  // found through the parse of the text; then `hash` is its name_hash.
  bool reads_alike = false;
  u32 hash = 0;
};
// The S lines of an object text without NUL bytes, in order. Touches
// nothing else, so the reading thread runs it ahead of the pre-scan.
void find_symbol_mentions(std::string_view text, std::vector<SymbolMention>& out);
// The same, from the parse of the text (prepare_object_text): only its S
// lines are looked at when no line is longer than a piece.
void find_symbol_mentions(std::string_view text, const PreparedText& prepared, std::vector<SymbolMention>& out);
// True when the pre-scan and pass 0 read the same name from an S line that
// begins with its letter (`after_letter` is the rest of the line): blanks
// or tabs, a first character that is not white space, then letters and
// digits up to white space or the line's end, fewer than 128 in all. The
// pre-scan leaves such names of an object to the symbol table.
bool symbol_name_reads_alike(std::string_view after_letter);

// Pre-scans the input-file list before pass 0: checks every file's kind,
// reads every object (and runs pass 0 over it, its reports held), and
// replaces the libraries by one input of their needed members.
void scan_input_files(LinkContext& ctx);
// Pass 0 after the output files are made: writes the held reports (and
// stops where they stopped), then reads what the pre-scan left to pass 0:
// files after a pre-scan error and the library members.
void finish_pass0(LinkContext& ctx);

}  // namespace zeld
