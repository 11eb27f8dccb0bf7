// The option scan: turns the expanded word array into the link's options,
// the input-file list, the -d texts, the -L directories and the range
// options; prints the usage text for any malformed option. --help and
// --version answer at once and end the link with status 0.
//
//   zeld12 -btext:0x4000.0x7FFF -o app -s2_s12:128 main.o -lm
#pragma once

#include <string>
#include <vector>

#include "common.h"
#include "version.h"

namespace zeld {

struct LinkContext;

enum OutputFormat : unsigned {
  FORMAT_SRECORD = 1,
  FORMAT_INTEL_HEX = 2,
  FORMAT_COFF = 4,
};

enum S2Mode : int { S2_S1 = 0, S2_CPU = 1, S2_S12 = 2, S2_S12X = 3 };

// The link's options; set by the scan, read by the steps after it.
struct Options {
  unsigned output_formats = FORMAT_SRECORD;
  std::string output_base_name;
  u32 max_address = 0;
  int fill_byte = 0xFF;
  S2Mode s2_mode = S2_S1;
  int s12_flash_kbytes = 32;
  int debug_level = 0;
  int trace_level = 0;
  int build_number = 0;
  int emit_extended_labels = 0;
  std::string startup_file = "crt12.o";
  bool link_startup_and_library = true;  // cleared by -R
  bool print_memory_usage = false;       // --print-memory-usage
};

// Scans words[1..] (words[0] is the program name).
void scan_options(LinkContext& ctx, const std::vector<std::string>& words);
// Prints the version and usage text on the standard output; status 1.
[[noreturn]] void usage(LinkContext& ctx);

}  // namespace zeld
