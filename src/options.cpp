// The option scan. Runs once, after the environment words and the option
// files have been merged into the word array and before the input list is
// completed: it fills ctx.options, appends the named input files (and the
// "lib<f>.a" of each -l) to ctx.input_files, and hands -L, -d and the range
// options to the subsystems that keep them. It opens no file.
//
//   zeld12 -btext:0x4000.0x7FFF -roh:0x6000.0x60FF -o app -fintelhex main.o -lm
//
// An option is chosen by the character after its "-"; values marked
// "attached or next" are the rest of the word, or the whole next word when
// nothing follows the letter. Any malformed option prints the usage text
// and ends the link with status 1; --help prints the same text and ends it
// with status 0, --version prints one line and does the same. Numbers are
// checked whole: a value with no digits, trailing text or more than 32 bits
// is malformed too, so a typo never turns silently into a fill byte or an
// image size.
#include "options.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "context.h"
#include "paths.h"
#include "expression.h"
#include "library.h"
#include "ranges.h"

namespace zeld {

namespace {

constexpr const char* kUsageLines[] = {
    "Usage: [options] file [file ...] [-l<f>]",
    "  @<file> Obtain options from file",
    "  -btext:<address range>",
    "  -bdata:<address range>",
    "  -b<name>:<address range>",
    "  -d       global symbol = expression",
    "  -f<format>: -fmots19 | -fintelhex | -fcoff | -fihx_coff",
    "  -L<dir>  library search path(s)",
    "  -l<f>    Search library archive lib<f>.a",
    "  -m       Generate map file as <file>.mp",
    "  -nb:<#>  Build Number, emitted to top of the map file",
    "  -roh:[<area>:]<address range>   Create a hole in the read only memory space",
    "  -rwh:[<area>:]<address range>   Create a hole in the read/write memory space",
    "  -o<file> Name output file",
    "  -O       Enable code compressor optimization",
    "  -R       do not link in startup or library file",
    "  -s2_s1   Use a mix of S1 and S2 records (CPU12 only)",
    "  -s2_cpu  Use CPU addresses for the S2 records",
    "  -s2_s12:<size>  Use S12 mapping to convert S1 to S2 records. \n           <size> is device flash size in K bytes.",
    "  -s2_s12x Use S12X mapping to convert S1 to S2 records",
};

std::string usage_text() {
  std::string text = strprintf("Version %s\n", kVersion);
  for (const char* line : kUsageLines) text.append(line).append("\n");
  return text;
}

// The build number is the linker's own, fixed when it was built; -nb: names
// the build of the program being linked and has no say here.
std::string version_line() { return strprintf("%s %s (build %d)", kProgramName, kVersion, kBuildNumber); }

// --help and --version: the text on the standard output, and the link ends
// there, whatever words follow: with success, unless an option before it
// was reported as an error (a bad range, too many -L), as no status 0
// follows an error report.
[[noreturn]] void answer(LinkContext& ctx, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), ctx.out);
  std::fflush(ctx.out);
  stop_link(ctx.diag.error_count() > 0 ? kExitUsage : kExitSuccess);
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// A whole number in base 0: "0x" hexadecimal, a leading "0" octal, else
// decimal. Anything else, or a value above 32 bits, is malformed.
u32 base0_number(LinkContext& ctx, std::string_view text) {
  unsigned base = 10;
  std::size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  } else if (text.size() > 1 && text[0] == '0') {
    base = 8;
    i = 1;
  }
  if (i >= text.size()) usage(ctx);
  u64 value = 0;
  for (; i < text.size(); ++i) {
    unsigned d = static_cast<unsigned>(digit_value(text[i]));
    if (d >= base) usage(ctx);
    value = value * base + d;
    if (value > 0xFFFFFFFFull) usage(ctx);
  }
  return static_cast<u32>(value);
}

// The -nb: number, read like "%d": white space, a sign and the leading digits;
// text after them is ignored and a text without digits leaves the number
// unchanged, so "-nb:" with an empty build variable still links. Values
// beyond an int stop at its limits.
void read_build_number(std::string_view text, int& number) {
  std::size_t i = 0;
  while (i < text.size() && is_white(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return;
  i64 value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = std::min<i64>(value * 10 + (text[i] - '0'), static_cast<i64>(INT_MAX) + 1);
  if (negative) value = -value;
  number = static_cast<int>(std::clamp<i64>(value, INT_MIN, INT_MAX));
}

// The -g level: the leading decimal digits, 0 when there are none; text
// after them is ignored. Large values stop at INT_MAX.
int debug_level_of(std::string_view text) {
  i64 value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

void add_input_word(LinkContext& ctx, const std::string& word) {
  ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{word, InputKind::kNamed}));
  std::string& base = ctx.options.output_base_name;
  if (base.empty()) base = strip_extension(word);
}

void set_output_format(LinkContext& ctx, const std::string& format) {
  unsigned& formats = ctx.options.output_formats;
  if (format == "mots19")
    formats = FORMAT_SRECORD;
  else if (format == "intelhex")
    formats = FORMAT_INTEL_HEX;
  else if (format == "coff")
    formats = FORMAT_COFF;
  else if (format == "ihx_coff")
    formats = FORMAT_INTEL_HEX | FORMAT_COFF;
  else {
    ctx.diag.error("unknown output format: %s", format.c_str());
    usage(ctx);
  }
}

// -roh: and -rwh: hand over the text after the prefix when an area name
// follows it, else the text from the prefix's colon on.
void hole_option(LinkContext& ctx, const std::string& word, RangeKind kind) {
  constexpr std::size_t kPrefix = 5;  // "-roh:"
  char first = word.size() > kPrefix ? word[kPrefix] : '\0';
  bool named = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') || first == '_';
  parse_address_ranges(ctx, std::string_view(word).substr(named ? kPrefix : kPrefix - 1), kind);
}

void s2_option(LinkContext& ctx, const std::string& word) {
  Options& o = ctx.options;
  if (word.starts_with("-s2_s12:")) {
    u32 kbytes = base0_number(ctx, std::string_view(word).substr(8));
    if (kbytes > INT_MAX) usage(ctx);
    o.s12_flash_kbytes = static_cast<int>(kbytes);
    o.s2_mode = S2_S12;
  } else if (word == "-s2_s1") {
    o.s2_mode = S2_S1;
  } else if (word == "-s2_cpu") {
    o.s2_mode = S2_CPU;
  } else if (word == "-s2_s12x") {
    o.s2_mode = S2_S12X;
  } else {
    usage(ctx);
  }
}

}  // namespace

void scan_options(LinkContext& ctx, const std::vector<std::string>& words) {
  Options& o = ctx.options;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.empty() || word[0] != '-') {
      add_input_word(ctx, word);
      continue;
    }
    // The value of an "attached or next" option; with no next word the
    // option is malformed.
    auto value_text = [&]() -> std::string {
      if (word.size() > 2) return word.substr(2);
      if (i + 1 >= words.size()) usage(ctx);
      return words[++i];
    };
    char letter = word.size() > 1 ? word[1] : '\0';
    switch (letter) {
      case '-':
        // Compiler drivers pass their own "--" words through: every word
        // not named here is ignored.
        if (word == "--emit_extended_labels")
          o.emit_extended_labels = 1;
        else if (word == "--print-memory-usage")
          o.print_memory_usage = true;
        else if (word == "--help")
          answer(ctx, usage_text());
        else if (word == "--version")
          answer(ctx, version_line() + "\n");
        break;
      case 'D':
        ++o.trace_level;
        break;
      case 'F':
        o.fill_byte = static_cast<int>(base0_number(ctx, value_text()));
        break;
      case 'L':
        add_library_path(ctx, value_text());
        break;
      case 'R':
        o.link_startup_and_library = false;
        break;
      case 'a':
        if (word != "-aafa") usage(ctx);
        break;
      case 'b':
        parse_address_ranges(ctx, std::string_view(word).substr(2), RangeKind::kArea);
        break;
      case 'd':
        add_global_definition(ctx, value_text());
        break;
      case 'e':
        if (word.size() < 3 || word[2] != ':') usage(ctx);
        o.max_address = base0_number(ctx, std::string_view(word).substr(3));
        break;
      case 'f':
        set_output_format(ctx, value_text());
        break;
      case 'g':
        o.debug_level = word.size() == 2 ? 1 : debug_level_of(std::string_view(word).substr(2));
        break;
      case 'l':
        add_input_word(ctx, strprintf("lib%s.a", word.c_str() + 2));
        break;
      case 'm':
        if (word == "-maps1" || word == "-maps12x") {
          ctx.diag.error("-maps1 and -maps12x no longer supported. Please see Help file for details.");
          usage(ctx);
        }
        break;
      case 'n':
        if (!word.starts_with("-nb:")) usage(ctx);
        read_build_number(std::string_view(word).substr(4), o.build_number);
        break;
      case 'o':
        o.output_base_name = value_text();
        break;
      case 'r':
        if (word.starts_with("-roh:"))
          hole_option(ctx, word, RangeKind::kRomHole);
        else if (word.starts_with("-rwh:"))
          hole_option(ctx, word, RangeKind::kRamHole);
        else
          usage(ctx);
        break;
      case 's':
        s2_option(ctx, word);
        break;
      case 'u':
        o.startup_file = value_text();
        break;
      default:
        usage(ctx);
    }
  }
}

void usage(LinkContext& ctx) {
  std::string text = usage_text();
  std::fwrite(text.data(), 1, text.size(), ctx.out);
  std::fflush(ctx.out);
  stop_link(kExitUsage);
}

}  // namespace zeld
