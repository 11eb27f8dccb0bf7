// LinkContext holds the whole state of one link: the options, the input
// files, the reading state of the passes, the symbol and area tables, the
// range options, the relocation state, the memory image, the open output
// files and what must be deleted when the link ends. main creates one per
// run; tests may create many in one process. Every step takes it as `ctx`.
#pragma once

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "areas.h"
#include "cleanup.h"
#include "coff.h"
#include "debug_info.h"
#include "diagnostics.h"
#include "elf_input.h"
#include "image.h"
#include "lexer.h"
#include "library.h"
#include "object_reader.h"
#include "options.h"
#include "output_file.h"
#include "ranges.h"
#include "relocate.h"
#include "symbols.h"

namespace zeld {

// An output stream owned by the link; closed when the link ends.
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using OutputStream = std::unique_ptr<std::FILE, FileCloser>;

struct LinkContext {
  explicit LinkContext(std::FILE* err = stderr, std::FILE* out = stdout) : diag(err), out(out) {}
  LinkContext(const LinkContext&) = delete;
  LinkContext& operator=(const LinkContext&) = delete;

  Diagnostics diag;
  std::FILE* out;  // standard output: the usage text only

  Options options;
  // When the link runs: the map's date and the COFF time stamp. Taken from
  // SOURCE_DATE_EPOCH when that is set, so that outputs can be reproduced.
  std::time_t link_time = 0;
  std::string program_name = "<progname not set>";
  int link_pass = 0;
  // Text range of the device, from the -btext ranges: its lowest address,
  // none when no text range was given, and its highest (0xFFFF by default).
  std::optional<u32> text_range_low;
  u32 text_range_high = 0xFFFF;

  // The input-file list in link order. Nodes are owned here and never
  // move, so headers can point at them.
  std::vector<std::unique_ptr<InputFile>> input_files;
  std::vector<std::string> global_definitions;  // -d texts in order
  LibraryState library;
  RangeOptions range_options;

  Lexer lex;
  ObjectReader reader;
  SymbolTable symbols;
  AreaTable areas;
  RelocationState reloc;
  Image image;
  DebugState debug;
  ElfInputState elf;  // ELF modules and archive members
  CoffState coff;

  // The .s19 or .hex stream, and the .cof stream.
  OutputFile output_file;
  OutputFile coff_file;
  std::string coff_file_name;

  // Files deleted when the link ends: option files named with @- whichever
  // way it ends, image files and the listing only when it fails before
  // they are finished.
  CleanupList files_to_delete;
  // Closes every stream and deletes what the link must not leave behind;
  // `failed` when the link ends with a non-zero status.
  void run_cleanup(bool failed = true);
};

}  // namespace zeld
