// The absolute listing, written by the driver after pass 1 of a link
// without errors and before the maps. Areas are placed, symbols final and
// the image holds the code by then: nothing here moves an address, it only
// reads and reports.
//
// Each object's assembler listing (<object>.lis) is copied, its area
// offsets rebased on the global labels ("name::") and its code bytes
// replaced by the image's:
//
//   0003                    _main::   ->    C007                     _main::
//   0003  CC0000    ldd #_main        ->    C007  CCC007    ldd #_main
//
// A line whose address is unknown (before the first label the symbol table
// knows in an area) keeps its offset behind "--- ". Bytes at addresses the
// image does not hold (paged and linear code, anything past its end) are
// copied from the module listing as they stand. Listings are streamed; a
// line longer than kMaxListingLine comes in pieces.
#include "listing.h"

#include <cerrno>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string_view>

#include "context.h"
#include "file_prefetch.h"
#include "paths.h"
#include "source_text.h"

namespace zeld {

namespace {

constexpr int kAddressWidth = 4;
// Code bytes start after the address and two separating characters.
constexpr std::size_t kCodeColumn = kAddressWidth + 2;

bool is_hex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The hexadecimal number a listing line starts with, after white space and
// an optional 0x; a value past 32 bits stays at 0xFFFFFFFF.
struct LeadingNumber {
  bool found = false;
  u32 value = 0;
  std::size_t end = 0;  // where the text after the number begins
};

LeadingNumber parse_leading_number(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && is_white(line[i])) ++i;
  if (i + 2 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X') && is_hex(line[i + 2]))
    i += 2;
  LeadingNumber n;
  u64 value = 0;
  std::size_t j = i;
  for (; j < line.size() && is_hex(line[j]); ++j) {
    value = value * 16 + static_cast<u64>(digit_value(static_cast<unsigned char>(line[j]), 16));
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
  }
  if (j == i) return n;
  n.found = true;
  n.value = static_cast<u32>(value);
  n.end = j;
  return n;
}

// Where the listing's offsets land: offset `label_offset` is at `base`.
// No base before the first known label of an area; an .org makes offsets
// absolute addresses.
struct ListingState {
  bool has_base = false;
  u32 base = 0;
  u32 label_offset = 0;
  bool skipping = false;  // inside a paged or global area: copied as it stands
  int line_number = 0;
};

// The word of a directive (".area", ".org"), or empty when `rest` holds none.
std::string_view directive_word(std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size() && is_white(rest[i])) ++i;
  if (i + 1 < rest.size() && rest[i] == '.' && std::isalpha(static_cast<unsigned char>(rest[i + 1])))
    return rest.substr(i + 1);
  return {};
}

void report_unknown_label(LinkContext& ctx, const std::string& listing_name, int line_number,
                          const std::string& label) {
  ctx.diag.error_at(ReportPlace{listing_name, line_number}, "can't find address for symbol '%s'", label.c_str());
}

// The image holds the 16-bit address space up to its size; above 0xFFFF
// only what a record running past 0xFFFF stored there. Paged and linear
// code never enters it.
bool image_holds(const Image& image, u64 address) {
  return address < image.size && (address <= 0xFFFF || image.written_at(static_cast<u32>(address)));
}

// The code pairs from the code column on, each replaced by the image's
// byte where the image holds that address, then the text after them.
void write_code_bytes(LinkContext& ctx, std::FILE* out, std::string_view line, u32 address) {
  const Image& image = find_memory_map(ctx, 0);
  put(out, " ");
  u64 at = address;
  std::size_t i = kCodeColumn;
  for (; i < line.size() && is_hex(line[i]); i += 2, ++at) {
    if (image_holds(image, at))
      put_hex(out, image.byte_at(static_cast<u32>(at)), 2);
    else
      put(out, line.substr(i, 2));
  }
  put(out, line.substr(std::min(i, line.size())));
}

// One listing line, without its line feed.
void relocate_listing_line(LinkContext& ctx, std::FILE* out, std::string_view line, ListingState& st,
                           const std::string& listing_name) {
  std::size_t semicolon = line.find(';');
  auto before_comment = [&](std::size_t pos) {
    return pos != std::string_view::npos && (semicolon == std::string_view::npos || pos < semicolon)
               ? pos
               : std::string_view::npos;
  };
  std::size_t equals = before_comment(line.find('='));
  std::size_t colon = before_comment(line.find(':'));
  bool has_code = line.size() > kCodeColumn && is_hex(line[kCodeColumn]);
  LeadingNumber number = parse_leading_number(line);
  std::string_view rest = number.found ? line.substr(number.end) : line;
  std::string_view directive = directive_word(rest);

  if (directive.empty() && number.found && equals == std::string_view::npos && !st.skipping) {
    // A global label moves the base to its symbol. One the symbol table
    // does not know leaves base and offset as they were, so that the lines
    // after it keep the addresses of the label before it, if any.
    if (colon != std::string_view::npos && colon + 1 < line.size() && line[colon + 1] == ':') {
      std::size_t start = colon;
      while (start > 0 && !is_white(line[start - 1])) --start;
      std::string label(line.substr(start, colon - start));
      if (!label.empty()) {
        u32 address;
        if (find_symbol_address(ctx, label, address)) {
          st.has_base = true;
          st.base = address;
          st.label_offset = number.value;
        } else {
          report_unknown_label(ctx, listing_name, st.line_number, label);
        }
      }
    }
    if (!st.has_base || number.value < st.label_offset) {
      put(out, "--- ");
      put_hex(out, number.value, kAddressWidth);
      put(out, rest);
      return;
    }
    u32 address = number.value - st.label_offset + st.base;
    put(out, " ");
    put_hex(out, address, kAddressWidth);
    put(out, " ");
    if (has_code)
      write_code_bytes(ctx, out, line, address);
    else
      put(out, rest);
    return;
  }

  if (starts_with_ignoring_case(directive, "org")) {
    st.has_base = true;
    st.base = 0;
    st.label_offset = 0;
  } else if (starts_with_ignoring_case(directive, "area")) {
    st.has_base = false;
    st.label_offset = 0;
    st.skipping = line.find("paged") != std::string_view::npos || line.find("global") != std::string_view::npos;
  }
  put(out, line);
}

}  // namespace

std::optional<std::string> module_listing_name(const std::string& object_name) {
  if (object_name.find('.') == std::string::npos) return std::nullopt;
  std::string name = replace_extension(object_name, ".lis");
  if (name.size() > kMaxFileNameLength) return std::nullopt;
  return name;
}

bool read_module_listing(Diagnostics& diag, const std::string& name, FileText& text) {
  FileRead result = read_file(name, text, false, true);
  switch (result.status) {
    case FileRead::kRead: return true;
    case FileRead::kCannotOpen:
      // A module without a listing is normal; one that exists and cannot
      // be read is not.
      if (result.error_number == ENOENT || result.error_number == ENOTDIR || result.error_number == 0) return false;
      report_open_failure(diag, name, "open", result.error_number);
    default: report_read_failure(diag, name, result.error_number);
  }
}

// Library members have no listing of their own, and an ELF object's
// listing (if any) is not in the form this one copies.
std::vector<std::string> module_listing_names(const LinkContext& ctx) {
  std::vector<std::string> names;
  for (const std::unique_ptr<InputFile>& node : ctx.input_files) {
    if (node->kind == InputKind::kLibraryMembers || node->elf) continue;
    if (std::optional<std::string> name = module_listing_name(node->name)) names.push_back(std::move(*name));
  }
  return names;
}

void relocate_listing(LinkContext& ctx, std::FILE* out, std::string_view listing, const std::string& listing_name) {
  ListingState st;
  LineSplitter lines(listing, kMaxListingLine);
  std::string_view line;
  bool newline = false;
  int lines_ended = 0;  // pieces of an over-long line share its number
  while (lines.next(line, newline)) {
    st.line_number = lines_ended + 1;
    relocate_listing_line(ctx, out, line, st, listing_name);
    if (newline) {
      put(out, "\n");
      ++lines_ended;
    }
  }
}

// The listing reads every module listing, which may take a while (or wait
// on a slow device): until it is complete, it is deleted if the link is
// interrupted or fails, like an unfinished image.
void write_listing(LinkContext& ctx, FilePrefetch* ahead) {
  OutputFile out = OutputFile::create(ctx.diag, ctx.options.output_base_name, "lst", "w");
  bool registered = is_plain_file(out.name());
  if (registered) ctx.files_to_delete.add_unfinished_image(out.name());
  put(out.get(),
      "WARNING: EXTCODE CODE AREA DO NOT CONTAIN RELOCATED ADDRESSES.\nTHIS WILL BE REMEDIED IN A LATER RELEASE.\n");
  for (const std::string& name : module_listing_names(ctx)) {
    PrefetchedFile listing;
    if (ahead) listing = ahead->take();
    if (listing.read || read_module_listing(ctx.diag, name, listing.bytes))
      relocate_listing(ctx, out.get(), listing.bytes, name);
    if (ahead) ahead->recycle(std::move(listing.bytes));
  }
  std::string name = out.name();
  out.finish(ctx.diag);
  if (registered) ctx.files_to_delete.finish_image(name);
}

}  // namespace zeld
