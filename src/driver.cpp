// The link, step by step. run_link is the table of contents of the linker:
// every step is one call into the subsystem that owns it, in a fixed order.
//
//   words  -> options -> input list -> pre-scan (reads every input once;
//   pass 0 over the objects, its reports held) -> output files
//   rest of pass 0 (library members) -> definitions, ranges, placement,
//   image, undefined -> pass 1 (relocate the parsed records and write;
//   beside it, on a thread of its own, the maps and debug file when no
//   error came before: early_reports.h) -> listing, maps, debug, COFF,
//   closing records
//   -> device usage line -> exit status
//
// Nothing here parses object text or formats output. Stops deep inside the
// link arrive as LinkAbort; link_main turns every outcome into a status and
// deletes the files registered for deletion on every way out.
#include "driver.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>

#ifndef _WIN32
#include <sys/resource.h>
#else
#include <cstdio>
#endif

#include "coff.h"
#include "context.h"
#include "debug_info.h"
#include "early_reports.h"
#include "expression.h"
#include "file_prefetch.h"
#include "image.h"
#include "intel_hex.h"
#include "library.h"
#include "link_heap.h"
#include "listing.h"
#include "map_file.h"
#include "memory_usage.h"
#include "option_words.h"
#include "paths.h"
#include "signal_cleanup.h"
#include "srecord.h"

namespace zeld {

namespace {

// Room for the streams a link keeps open at once (outputs, listings).
void raise_open_stream_limit() {
#ifdef _WIN32
  _setmaxstdio(1024);
#else
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 1024) {
    limit.rlim_cur = limit.rlim_max < 1024 ? limit.rlim_max : 1024;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
#endif
}

// The environment words: a value that begins with a double quote loses its
// first and its last character.
std::string environment_text(const char* value) {
  std::string text(value);
  if (!text.empty() && text.front() == '"') text = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
  return text;
}

// The time the outputs record: SOURCE_DATE_EPOCH (seconds since 1970)
// when it holds a number, so that builds can be reproduced; else now.
std::time_t link_time() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    char* end = nullptr;
    unsigned long long seconds = std::strtoull(epoch, &end, 10);
    if (*end == '\0' && epoch[0] != '-') return static_cast<std::time_t>(seconds);
  }
  return std::time(nullptr);
}

// Startup object first, default library last.
void complete_input_list(LinkContext& ctx) {
  if (!ctx.options.link_startup_and_library) return;
  std::string startup = find_in_library_paths(ctx, ctx.options.startup_file);
  ctx.input_files.insert(ctx.input_files.begin(), std::make_unique<InputFile>(InputFile{startup, InputKind::kStartup}));
  ctx.input_files.push_back(std::make_unique<InputFile>(InputFile{"libc12.a", InputKind::kNamed}));
}

// The image files are made before pass 0, so that one that cannot be made
// stops the link early. Until it is finished an image file is deleted if
// the link fails (or is interrupted): a cut image must not be left where a
// programmer could flash it. Only plain files are deleted so; a device or
// a link named as the output stays.
OutputFile create_image_file(LinkContext& ctx, const char* extension, const char* mode) {
  OutputFile file = OutputFile::create(ctx.diag, ctx.options.output_base_name, extension, mode);
  if (is_plain_file(file.name())) ctx.files_to_delete.add_unfinished_image(file.name());
  return file;
}

void create_output_files(LinkContext& ctx) {
  const Options& o = ctx.options;
  if (o.output_formats & FORMAT_INTEL_HEX) ctx.output_file = create_image_file(ctx, "hex", "w");
  if (o.output_formats & FORMAT_COFF) {
    ctx.coff_file = create_image_file(ctx, "cof", "wb");
    ctx.coff_file_name = ctx.coff_file.name();
  }
  if (o.output_formats & FORMAT_SRECORD) ctx.output_file = create_image_file(ctx, "s19", "w");
}

// Closes an image file with its writes checked, and keeps it from now on.
void finish_image_file(LinkContext& ctx, OutputFile& file) {
  if (!file) return;
  std::string name = file.name();
  file.finish(ctx.diag);
  ctx.files_to_delete.finish_image(name);
}

void between_passes(LinkContext& ctx) {
  const Options& o = ctx.options;
  // The -d texts are read in the radix the last module left in force.
  ctx.lex.radix = ctx.reader.radix;
  apply_global_definitions(ctx);
  apply_address_ranges(ctx);  // sets the text range
  if (o.max_address != 0 && ctx.text_range_high > o.max_address)
    ctx.diag.error_at(ctx.reader.place, "Address out of range %d is larger than max address %d", static_cast<int>(ctx.text_range_high),
                   static_cast<int>(o.max_address));
  allocate_areas(ctx);
  create_image(ctx, o.fill_byte, o.max_address != 0 ? o.max_address : default_image_size(ctx));
  report_undefined_symbols(ctx);
}

// "Device N% full." from the end of text within the text range. A program
// whose text ends exactly at the range's last address fits, and is 100% full.
void report_device_usage(LinkContext& ctx) {
  // Without a text range the differences below count from just under 0,
  // so that they come to text_end + 1 and 0x10000 for the default range.
  u32 low = ctx.text_range_low.value_or(0xFFFFFFFFu);
  u32 high = ctx.text_range_high;
  u32 text_end = high;
  find_symbol_address(ctx, "__text_end", text_end);
  if (static_cast<u64>(text_end) > static_cast<u64>(high) + 1)
    ctx.diag.fatal("Not enough space in 'text' area. Total of %d bytes needed.", static_cast<int>(text_end));
  u32 used = text_end - low;
  u32 room = high - low;
  long percent;
  if (room == 0)
    percent = used == 0 ? 0 : 100;  // a one-address range
  else
    percent = ceil_to_long(static_cast<double>(used) * 100.0 / static_cast<double>(room));
  if (text_end == high + 1 && percent > 100) percent = 100;
  ctx.diag.write("Device %ld%% full.\n", percent);
}

// The parsed records kept in memory between the passes, at most; a larger
// link keeps the rest in a temporary file (spill_file.h) until pass 1.
constexpr std::size_t kRecordsKeptInMemory = std::size_t{4} << 20;

// Pass 1, which stops the link when records kept in the temporary file
// cannot be read back.
void relocate_all_records(LinkContext& ctx) {
  try {
    relocate_records(ctx);
  } catch (const RecordSpillError& e) {
    ctx.diag.fatal("cannot read back the parsed records: %s",
                   e.error_number != 0 ? std::strerror(e.error_number) : "read error");
  }
}

// Module listings read ahead of the listing, at most: enough for the
// listings of most links, so that the listing need not wait for them.
constexpr std::size_t kListingsAhead = std::size_t{4} << 20;

// After pass 1, once no error was counted. `early` holds the map and the
// debug file when they were written beside pass 1.
int finish_link(LinkContext& ctx, FilePrefetch& listings, EarlyReports* early) {
  const Options& o = ctx.options;
  write_listing(ctx, &listings);
  if (early) {
    early->finish(ctx.diag);
  } else {
    write_map_file(ctx, ctx.diag, MapKind::Standard);
    if (o.emit_extended_labels) write_map_file(ctx, ctx.diag, MapKind::Extended);
    if (o.output_formats & FORMAT_COFF) prepare_coff(ctx);
    if (o.debug_level) {
      // One walk over the debug records writes <base>.dbg and, with COFF
      // output, gives the COFF builder its debug entries in the same order.
      CoffDebugBuilder coff_debug(ctx);
      write_debug_file(ctx, ctx.diag, o.output_base_name, (o.output_formats & FORMAT_COFF) ? &coff_debug : nullptr);
    }
  }
  if (o.output_formats & FORMAT_COFF) {
    write_coff_file(ctx);
    finish_image_file(ctx, ctx.coff_file);
  }
  if (o.output_formats & FORMAT_INTEL_HEX) write_hex_end_record(ctx);
  if (o.output_formats & FORMAT_SRECORD) write_s_end_record(ctx);
  finish_image_file(ctx, ctx.output_file);
  if (ctx.diag.error_count() == 0) {
    report_device_usage(ctx);
    if (o.print_memory_usage) print_memory_usage(ctx);
  }
  return ctx.diag.error_count() > 0 ? kExitUsage : kExitSuccess;
}

}  // namespace

long ceil_to_long(double x) {
  long t = static_cast<long>(x);
  if (std::isnan(x)) return t;
  return static_cast<double>(t) < x ? t + 1 : t;
}

void LinkContext::run_cleanup(bool failed) {
  output_file.reset();
  coff_file.reset();
  files_to_delete.run(failed);
}

int run_link(LinkContext& ctx, std::vector<std::string> words, const char* env_options) {
  raise_open_stream_limit();
  prepare_link_heap();
  ctx.link_time = link_time();
  if (env_options) insert_env_words(ctx, environment_text(env_options), words);
  ctx.options.output_base_name.clear();
  expand_option_files(ctx, words);
  scan_options(ctx, words);
  complete_input_list(ctx);
  ctx.reader.records.spill_after(kRecordsKeptInMemory);
  if (!ctx.input_files.empty()) scan_input_files(ctx);
  // The module listings are read from here on: the second core has little
  // else to do until pass 1, where the link's thread goes first.
  FilePrefetch listings(ctx.diag.error_count() == 0 ? module_listing_names(ctx) : std::vector<std::string>{},
                        kListingsAhead, {}, /*below_link_priority=*/true);
  create_output_files(ctx);

  finish_pass0(ctx);
  ctx.link_pass = 1;
  between_passes(ctx);
  // The map and the debug file need only the placed link: when nothing
  // failed so far, they are written while pass 1 runs.
  std::optional<EarlyReports> early;
  if (EarlyReports::wanted(ctx)) {
    if (ctx.options.debug_level) relocate_debug_records(ctx);
    early.emplace(ctx);
  }
  relocate_all_records(ctx);

  if (ctx.options.debug_level) relocate_debug_records(ctx);
  if (ctx.diag.error_count() != 0) return kExitFailure;  // no map, outputs unfinished
  return finish_link(ctx, listings, early ? &*early : nullptr);
}

int link_main(int argc, char** argv, std::FILE* out, std::FILE* err) {
  SignalCleanupGuard interrupts;  // Ctrl-C deletes what a failure would
  LinkContext ctx(err, out);
  std::vector<std::string> words(argv, argv + argc);
  if (words.empty()) words.emplace_back("zeld12");
  int status;
  try {
    status = run_link(ctx, std::move(words), std::getenv(kOptionsEnvironmentVariable));
  } catch (const LinkAbort& abort) {
    status = abort.status;
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "%s: out of memory\n", ctx.program_name.c_str());
    std::fflush(err);
    status = kExitFailure;
  } catch (const std::exception& e) {
    try {
      ctx.diag.internal("%s", e.what());
    } catch (const LinkAbort& abort) {
      status = abort.status;
    }
  }
  std::fflush(out);
  ctx.run_cleanup(status != kExitSuccess);
  return status;
}

}  // namespace zeld
