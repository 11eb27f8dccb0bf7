// The COFF file (<base>.cof) for the debugger. prepare_coff runs after the
// map: it takes the written extent of the memory image as the .text section
// and, without -g, adds the one .file entry that names the COFF file. With
// -g the debug walk (debug_visitor.h) hands every source file, function,
// block, line, variable and structure to the COFF debug builder, which adds
// their entries in walk order; write_coff_file appends the .text and .bss
// section entries and writes everything at once:
//
//   file header (20) + optional header (28)   at 0
//   .text and .bss section headers (2 x 40)   at 48
//   raw data of .text                          at 128
//   line numbers (6 bytes each)                at 128 + text size
//   symbol table (18 bytes an entry)           then the string table
//
// All numbers are little-endian whatever the host. Entries live in memory
// until the end, because later entries patch earlier ones (the .file chain,
// the next-function links, structure tags resolved at the end of a file).
#include "coff.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "context.h"
#include "image.h"

namespace zeld {

namespace {

// Storage classes and section numbers of the format.
enum : u8 {
  C_AUTO = 1,
  C_EXT = 2,
  C_STAT = 3,
  C_MOS = 8,
  C_STRTAG = 10,
  C_MOU = 11,
  C_UNTAG = 12,
  C_REG = 17,
  C_FIELD = 18,
  C_BLOCK = 100,
  C_FCN = 101,
  C_EOS = 102,
  C_FILE = 103,
};
constexpr int kSectionAbsolute = -1;
constexpr int kSectionText = 1;
constexpr int kSectionBss = 2;
constexpr int kSectionDebug = -2;

// File header (20 bytes): magic, section count, time stamp, symbol-table
// offset, symbol count, optional-header size, flags.
constexpr u32 kFileHeaderSize = 20;
constexpr int kFhMagic = 0;
constexpr int kFhSectionCount = 2;
constexpr int kFhTimeStamp = 4;
constexpr int kFhSymbolTable = 8;
constexpr int kFhSymbolCount = 12;
constexpr int kFhOptionalSize = 16;
constexpr int kFhFlags = 18;
constexpr u32 kFileMagic = 0x0A12;
constexpr u32 kFileFlags = 0x00FF;
constexpr u32 kSectionCount = 2;

// Optional header (28 bytes, behind the file header): magic, then a
// version stamp telling whether structure tags are present; the rest is 0.
constexpr u32 kOptionalHeaderSize = 28;
constexpr int kOhMagic = 0;
constexpr int kOhVersion = 2;
constexpr u32 kOptionalMagic = 0xC0DE;
constexpr u32 kVersionWithStructs = 2;

// Section header (40 bytes): name, physical and virtual address, size,
// raw-data offset, relocation offset, line-number offset, relocation
// count, line-number count, flags.
constexpr u32 kSectionHeaderSize = 40;
constexpr int kShName = 0;
constexpr int kShPhysicalAddress = 8;
constexpr int kShVirtualAddress = 12;
constexpr int kShSize = 16;
constexpr int kShRawData = 20;
constexpr int kShLineNumbers = 28;
constexpr int kShLineCount = 34;
constexpr int kShFlags = 36;
constexpr u32 kTextFlags = 0x20;
constexpr u32 kBssFlags = 0x40;
constexpr u32 kBssAddress = 0x60;  // the placeholder .bss

constexpr u32 kHeadersSize = kFileHeaderSize + kOptionalHeaderSize + kSectionCount * kSectionHeaderSize;
static_assert(kHeadersSize == 128, "raw data starts at 128");

// Line-number entry (6 bytes): an address (or, for a function's first
// entry, its symbol index) and the line relative to the function's first.
constexpr u32 kLineEntrySize = 6;
constexpr int kLnAddress = 0;
constexpr int kLnLine = 4;

// Fields of the auxiliary entries, by their use.
constexpr int kAuxTagIndex = 0;       // a structure reference, .eos: the tag entry
constexpr int kAuxFunctionSize = 4;   // function: code size
constexpr int kAuxLine = 4;           // .bf, .bb, .eb, .ef: the source line
constexpr int kAuxSize = 6;           // array, tag, .eos: size in bytes
constexpr int kAuxLinePointer = 8;    // function: file offset of its line entries
constexpr int kAuxDimensions = 8;     // array: four 16-bit dimensions
constexpr int kAuxNextEntry = 12;     // function: the next function; tag: the entry behind .eos
constexpr int kAuxSectionLength = 0;  // section symbol: section size
constexpr int kAuxSectionLines = 6;   // section symbol: line-number count

constexpr std::size_t kFileNamePiece = 14;  // characters of a .file name in each auxiliary entry

// Base types by letter: a letter's position is its type code.
constexpr char tymapper[] = "--CSILD-X---csil";

static_assert(sizeof(CoffEntry) == 18, "entries are written as they are held");

void put16(u8* p, u32 v) {
  p[0] = static_cast<u8>(v);
  p[1] = static_cast<u8>(v >> 8);
}

void put32(u8* p, u32 v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

u32 get16(const u8* p) { return p[0] | static_cast<u32>(p[1]) << 8; }
u32 get32(const u8* p) { return get16(p) | get16(p + 2) << 16; }

CoffEntry& entry_at(LinkContext& ctx, u32 index) { return ctx.coff.symbol_table[index]; }
u32 next_index(const LinkContext& ctx) { return static_cast<u32>(ctx.coff.symbol_table.size()); }

u32 add_long_name(LinkContext& ctx, std::string_view name) {
  std::vector<u8>& table = ctx.coff.string_table;
  if (table.empty()) table.assign(4, 0);
  u32 offset = static_cast<u32>(table.size());
  table.insert(table.end(), name.begin(), name.end());
  table.push_back(0);
  put32(table.data(), static_cast<u32>(table.size()));
  return offset;
}

void set_entry_name(LinkContext& ctx, CoffEntry& entry, std::string_view name) {
  std::fill(entry.begin() + kCoffName, entry.begin() + kCoffName + 8, u8{0});
  if (name.size() <= 8) {
    std::copy(name.begin(), name.end(), entry.begin() + kCoffName);
  } else {
    put32(entry.data() + kCoffNameOffset, add_long_name(ctx, name));
  }
}

// Name of an entry for messages: "[name]" when held in the entry, the
// string-table text otherwise.
std::string entry_name_text(const LinkContext& ctx, const CoffEntry& entry) {
  const std::vector<u8>& table = ctx.coff.string_table;
  u32 offset = get32(entry.data() + kCoffNameOffset);
  if (get32(entry.data() + kCoffName) == 0 && offset >= 4 && offset < table.size()) {
    std::string name;
    for (u32 i = offset; i < table.size() && table[i] != 0; ++i) name += static_cast<char>(table[i]);
    return name;
  }
  std::string name;
  for (int i = kCoffName; i < kCoffName + 8 && entry[i] != 0; ++i) name += static_cast<char>(entry[i]);
  return "[" + name + "]";
}

u32 add_symbol_entry(LinkContext& ctx, std::string_view name, u32 value, int section, u8 storage_class,
                     u8 aux_count) {
  CoffEntry entry{};
  set_entry_name(ctx, entry, name);
  put32(entry.data() + kCoffValue, value);
  put16(entry.data() + kCoffSection, static_cast<u32>(section));
  entry[kCoffClass] = storage_class;
  entry[kCoffNumAux] = aux_count;
  ctx.coff.symbol_table.push_back(entry);
  return next_index(ctx) - 1;
}

u32 add_aux_entry(LinkContext& ctx) {
  ctx.coff.symbol_table.push_back(CoffEntry{});
  return next_index(ctx) - 1;
}

// Line auxiliary entry of .bf, .bb, .eb and .ef.
void add_line_aux(LinkContext& ctx, u32 line) { put32(entry_at(ctx, add_aux_entry(ctx)).data() + kAuxLine, line); }

void raise_aux_count(LinkContext& ctx, u32 index) { ++entry_at(ctx, index)[kCoffNumAux]; }

int entry_section(LinkContext& ctx, u32 index) {
  return static_cast<std::int16_t>(get16(entry_at(ctx, index).data() + kCoffSection));
}
void set_entry_section(LinkContext& ctx, u32 index, int section) {
  put16(entry_at(ctx, index).data() + kCoffSection, static_cast<u32>(section));
}

// Appends a line-number entry; gives its file offset, or 0 when the table
// is full (the format counts its entries in 16 bits).
u32 add_lineno_entry(LinkContext& ctx, u32 line, u32 address_or_index) {
  CoffState& coff = ctx.coff;
  u32 count = static_cast<u32>(coff.lineno_table.size() / kLineEntrySize);
  if (count >= kMaxCoffLineEntries) {
    if (!coff.line_table_full_reported)
      ctx.diag.error("COFF line number table is full (%u entries); further lines are dropped", kMaxCoffLineEntries);
    coff.line_table_full_reported = true;
    return 0;
  }
  u8 bytes[kLineEntrySize];
  put32(bytes + kLnAddress, address_or_index);
  put16(bytes + kLnLine, line);
  coff.lineno_table.insert(coff.lineno_table.end(), bytes, bytes + kLineEntrySize);
  return coff.lineno_offset + kLineEntrySize * count;
}

void coff_add_section_symbol(LinkContext& ctx, const std::string& name, u32 address, u32 length, u32 line_count,
                             int section) {
  if (ctx.coff.last_file_entry >= 0)
    put32(entry_at(ctx, static_cast<u32>(ctx.coff.last_file_entry)).data() + kCoffValue, next_index(ctx));
  add_symbol_entry(ctx, name, address, section, C_STAT, 1);
  CoffEntry& aux = entry_at(ctx, add_aux_entry(ctx));
  put32(aux.data() + kAuxSectionLength, length);
  put16(aux.data() + kAuxSectionLines, line_count);
}

void write_section_header(u8* p, const char* name, u32 address, u32 size, u32 raw_offset, u32 lineno_offset,
                          u32 line_count, u32 flags) {
  std::copy_n(name, std::strlen(name), p + kShName);
  put32(p + kShPhysicalAddress, address);
  put32(p + kShVirtualAddress, address);
  put32(p + kShSize, size);
  put32(p + kShRawData, raw_offset);
  put32(p + kShLineNumbers, lineno_offset);
  put16(p + kShLineCount, line_count);
  put32(p + kShFlags, flags);
}

// Lowest and highest written address up to the text range's end (and the
// image's); none written leaves an empty .text at 0.
void find_written_range(LinkContext& ctx) {
  CoffState& coff = ctx.coff;
  const Image& image = ctx.image;
  coff.text_start = 0;
  coff.text_size = 0;
  u32 held = static_cast<u32>(image.written.size());
  if (image.size != 0 && held != 0) {
    u32 top = std::min({ctx.text_range_high, image.size - 1, held - 1});
    u32 last = top;
    while (!image.written_at(last) && last != 0) --last;
    if (image.written_at(last)) {
      u32 first = 0;
      while (!image.written_at(first)) ++first;
      coff.text_start = first;
      coff.text_size = (last - first + 1 + 3) & ~3u;
    }
  }
  coff.lineno_offset = kHeadersSize + coff.text_size;
}

// Reads a decimal number the way %d does; false when there is none.
bool read_decimal(const char*& p, long& value) {
  char* end = nullptr;
  value = std::strtol(p, &end, 10);
  if (end == p) return false;
  p = end;
  return true;
}

// Reads a word the way %s does.
std::string read_word(const char*& p) {
  while (*p && is_white(*p)) ++p;
  const char* start = p;
  while (*p && !is_white(*p)) ++p;
  return std::string(start, p);
}

// A[size:dim...]: the array auxiliary entry of the entry at `index`; four
// dimensions fit in it. False when the text is not of that form.
bool map_array(LinkContext& ctx, u32 index, const char*& p) {
  raise_aux_count(ctx, index);
  if (*p != '[') return false;
  ++p;
  long first = 0;
  read_decimal(p, first);
  if (*p != ':') return false;
  long dims[4] = {0, 0, 0, 0};
  int count = 0;
  while (*p == ':') {
    if (count == 4) {
      ctx.diag.write("warning: COFF debug format does not support more than 4 dimensions in array type\n");
      while (*p && *p != ']') ++p;
      break;
    }
    ++p;
    read_decimal(p, dims[count++]);
  }
  if (*p != ']') return false;
  ++p;
  if (*p == 'k') {
    ++p;
    set_entry_section(ctx, index, kSectionText);
  } else {
    set_entry_section(ctx, index, kSectionBss);
  }
  CoffEntry& aux = entry_at(ctx, add_aux_entry(ctx));
  put16(aux.data() + kAuxSize, static_cast<u32>(first));
  for (int i = 0; i < 4; ++i) put16(aux.data() + kAuxDimensions + 2 * i, static_cast<u32>(dims[i]));
  return true;
}

void add_tags(const DebugState& debug, CoffTagScopes::TagIndex& index, const DbStructList& list) {
  for (const DbStruct& s : debug.structs.list(list)) {
    std::string_view tag = debug_struct_tag(debug.text(s.text));
    if (!tag.empty()) index.try_emplace(tag, &s);
  }
}

// Lists this short are searched in place; longer ones (a header file named
// by thousands of modules collects definitions from each) get an index.
constexpr std::size_t kShortTagList = 16;

// The first definition of `tag` in `list`. A definition without a tag
// (its text has no space) is never found.
const DbStruct* find_tag_in(CoffTagScopes& tags, const DbStructList* list, const std::string& tag) {
  if (!list || tag.empty()) return nullptr;
  const DebugState& debug = *tags.debug;  // there whenever a scope is
  if (list->count <= kShortTagList) {
    for (const DbStruct& s : debug.structs.list(*list))
      if (debug_struct_tag(debug.text(s.text)) == tag) return &s;
    return nullptr;
  }
  auto [entry, fresh] = tags.list_index.try_emplace(list);
  if (fresh) add_tags(debug, entry->second, *list);
  auto found = entry->second.find(tag);
  return found == entry->second.end() ? nullptr : found->second;
}

long tag_entry_of(const CoffTagScopes& tags, const DbStruct* definition) {
  auto found = tags.tag_entry.find(definition);
  return found == tags.tag_entry.end() ? 0 : static_cast<long>(found->second);
}

// Symbol index of the tag entry of the structure named `tag` in the
// function and file scopes (and every file's when `all_files`), or -1 when
// there is no such definition; 0 when its tag entry is not written yet.
long find_struct_tag(LinkContext& ctx, const std::string& tag, bool all_files) {
  CoffTagScopes& tags = ctx.coff.tags;
  for (const DbStructList* scope : {tags.function_scope, tags.file_scope})
    if (const DbStruct* s = find_tag_in(tags, scope, tag)) return tag_entry_of(tags, s);
  if (!all_files) return -1;
  if (!tags.all_files_index) {
    tags.all_files_index.emplace();
    if (tags.debug)
      for (const DbFile& file : tags.debug->files) add_tags(*tags.debug, *tags.all_files_index, file.structs);
  }
  auto found = tags.all_files_index->find(tag);
  if (found != tags.all_files_index->end()) return tag_entry_of(tags, found->second);
  ctx.diag.write("  File %s \n", tags.file_name.c_str());
  return -1;
}

// The tag index of a structure defined in the current function or file,
// once its tag entry is written; anything else waits for the end of the
// source file.
void resolve_tag_reference(LinkContext& ctx, u32 aux_index, const std::string& tag, u32 symbol_index) {
  long found = find_struct_tag(ctx, tag, false);
  if (found > 0) {
    put32(entry_at(ctx, aux_index).data() + kAuxTagIndex, static_cast<u32>(found));
    return;
  }
  if (ctx.coff.tag_backpatch.size() >= kMaxTagBackpatch) ctx.diag.internal("COFF backpatch table overflowed");
  ctx.coff.tag_backpatch.push_back({aux_index, tag, symbol_index});
}

void warn_unresolved_tag(LinkContext& ctx, const CoffState::PendingTag& pending) {
  ctx.diag.write("warning: COFF no struct tag '%s' found for symbol (%d) %s\n", pending.tag.c_str(),
                 static_cast<int>(pending.symbol_index),
                 entry_name_text(ctx, entry_at(ctx, pending.symbol_index)).c_str());
}

// Looks the tags up in every file. A definition whose tag entry is not
// written yet (it belongs to a later source file) is kept for the end of
// the walk when `defer_unwritten`.
void resolve_tags(LinkContext& ctx, std::vector<CoffState::PendingTag>& pending, bool defer_unwritten) {
  for (const CoffState::PendingTag& p : pending) {
    long found = find_struct_tag(ctx, p.tag, true);
    if (found > 0)
      put32(entry_at(ctx, p.aux_index).data() + kAuxTagIndex, static_cast<u32>(found));
    else if (found == 0 && defer_unwritten)
      ctx.coff.late_tags.push_back(p);
    else if (found < 0)
      warn_unresolved_tag(ctx, p);
  }
  pending.clear();
}

// Register number r spread over the value by the variable's size: one
// register per byte, unused bytes 0xFF.
u32 register_value(u32 value, std::string_view type) {
  u32 r = value & 0xFF;
  char size_letter = type.empty() ? '\0' : type[0];
  u32 b1 = (r + 1) & 0xFF, b2 = 0xFF, b3 = 0xFF;
  if (size_letter == 'l' || size_letter == 'L') {
    b2 = (r + 2) & 0xFF;
    b3 = (r + 3) & 0xFF;
  } else if (size_letter == 'c' || size_letter == 'C') {
    b1 = 0xFF;
  }
  return r | b1 << 8 | b2 << 16 | b3 << 24;
}

// One write per table; an empty table writes nothing.
template <typename T>
void write_table(std::FILE* out, const std::vector<T>& table) {
  if (!table.empty()) std::fwrite(table.data(), sizeof(T), table.size(), out);
}

}  // namespace

void map_coff_type(LinkContext& ctx, u32 index, const std::string& type) {
  const char* p = type.c_str();
  // A type text the compiler would never write: reported and counted (the
  // link ends with status 1 once its outputs are written); the entry keeps
  // type 0.
  auto refuse = [&] {
    ctx.diag.error("invalid COFF type '%s'", type.c_str());
    put16(entry_at(ctx, index).data() + kCoffType, 0);
  };
  if (*p == 'k') {
    ++p;
    if (entry_section(ctx, index) == kSectionBss) set_entry_section(ctx, index, kSectionText);
  }
  const char* shown = p;  // the text an unknown base is reported with
  u32 derived = 0;
  for (;;) {
    char letter = *p;
    if (letter == 'p' || letter == 'f') {
      ++p;
      if (*p == 'k') ++p;
      derived = derived << 2 | (letter == 'p' ? 1u : 2u);
    } else if (letter == 'A') {
      ++p;
      if (!map_array(ctx, index, p)) return refuse();
      derived = derived << 2 | 3u;
    } else {
      break;
    }
  }

  u32 base;
  if (*p == 'V') {
    base = 12;
    ++p;
  } else if (*p == 'S' && p[1] == '[') {
    p += 2;
    const char* start = p;
    while (*p && *p != ']') ++p;
    if (*p != ']') return refuse();
    std::string tag(start, p);
    ++p;
    raise_aux_count(ctx, index);
    u32 aux = add_aux_entry(ctx);
    resolve_tag_reference(ctx, aux, tag, index);
    base = 8;
  } else if (*p == 'F') {
    ++p;
    long offset = 0, width = 0;
    int val = 0;
    if (*p == '[') {
      ++p;
      if (read_decimal(p, offset)) {
        val = 1;
        if (*p == ':') {
          ++p;
          if (read_decimal(p, width)) val = 2;
        }
      }
    }
    if (val != 2 || *p != ']') return refuse();
    ++p;
    CoffEntry& entry = entry_at(ctx, index);
    entry[kCoffClass] = C_FIELD;
    put32(entry.data() + kCoffValue, get32(entry.data() + kCoffValue) * 8 + static_cast<u32>(offset));
    base = 14;
  } else {
    int i = 0;
    while (tymapper[i] && tymapper[i] != *p) ++i;
    if (!tymapper[i]) {
      ctx.diag.write("type == %s\n", shown);
      return refuse();
    }
    base = static_cast<u32>(i);
    ++p;
  }
  if (*p != 0) return refuse();
  put16(entry_at(ctx, index).data() + kCoffType, derived << 4 | base);
}

namespace {

void coff_add_file(LinkContext& ctx, std::string_view name) {
  CoffState& coff = ctx.coff;
  if (coff.last_file_entry >= 0)
    put32(entry_at(ctx, static_cast<u32>(coff.last_file_entry)).data() + kCoffValue, next_index(ctx));
  // The auxiliary count is one byte; names are far shorter than 255 pieces.
  std::size_t pieces = std::min<std::size_t>((name.size() + kFileNamePiece - 1) / kFileNamePiece, 255);
  u32 index = add_symbol_entry(ctx, ".file", 0, kSectionDebug, C_FILE, static_cast<u8>(pieces));
  for (std::size_t i = 0; i < pieces; ++i) {
    CoffEntry& aux = entry_at(ctx, add_aux_entry(ctx));
    std::string_view piece = name.substr(i * kFileNamePiece, kFileNamePiece);
    std::copy(piece.begin(), piece.end(), aux.begin());
  }
  coff.last_file_entry = index;
}

void coff_add_block(LinkContext& ctx, bool begin, u32 line, u32 address) {
  add_symbol_entry(ctx, begin ? ".bb" : ".eb", address, kSectionText, C_BLOCK, 1);
  add_line_aux(ctx, line);
}

}  // namespace

void prepare_coff(LinkContext& ctx) {
  find_written_range(ctx);
  if (ctx.options.debug_level == 0) coff_add_file(ctx, ctx.coff_file_name);
}

void CoffDebugBuilder::begin_walk(const DebugState& debug) { ctx_.coff.tags.debug = &debug; }

void CoffDebugBuilder::begin_file(const DbFile& file, std::string_view base_name) {
  coff_add_file(ctx_, base_name);
  ctx_.coff.tags.file_scope = &file.structs;
  ctx_.coff.tags.file_name = file.name;
}

// The function's own type is looked up in the file's scope only: its
// definitions come into scope behind its entry.
void CoffDebugBuilder::enter_function(const DbFunc& function, const DbFunctionHead& head) {
  CoffState& coff = ctx_.coff;
  const DebugState& debug = *coff.tags.debug;
  coff.tags.function_scope = nullptr;
  if (head.first) {
    const DbLine& first = *head.first;
    std::string_view name = debug.text(function.name());
    coff.function_name = name;
    coff.function_first_line = first.line;
    coff.function_last_line = first.line;
    coff.line_range_reported = false;
    if (coff.last_function_aux >= 0)
      put32(entry_at(ctx_, static_cast<u32>(coff.last_function_aux)).data() + kAuxNextEntry, next_index(ctx_));
    u32 index = add_symbol_entry(ctx_, name, head.address, kSectionText, C_EXT, 1);
    map_coff_type(ctx_, index, std::string(debug.text(function.type)));
    u32 aux = add_aux_entry(ctx_);
    put32(entry_at(ctx_, aux).data() + kAuxFunctionSize, head.last->address - head.address);
    coff.last_function_aux = aux;
    put32(entry_at(ctx_, aux).data() + kAuxLinePointer, add_lineno_entry(ctx_, 0, index));
    add_symbol_entry(ctx_, ".bf", head.address, kSectionText, C_FCN, 1);
    add_line_aux(ctx_, first.line);
    if (!debug.unnamed(function)) coff_add_block(ctx_, true, first.line, first.address);
  }
  coff.tags.function_scope = &debug.structs_of(function);
}

void CoffDebugBuilder::leave_function(const DbFunc& /*function*/) { ctx_.coff.tags.function_scope = nullptr; }

void CoffDebugBuilder::block_end(const DbLine& end) { coff_add_block(ctx_, false, end.line, end.address); }

// A line before the function's first line, or 65535 lines or more after
// it, has no 16-bit relative number: reported once per function, dropped.
void CoffDebugBuilder::line(const DbLine& entry) {
  CoffState& coff = ctx_.coff;
  coff.function_last_line = entry.line;
  i32 relative = static_cast<i32>(entry.line - coff.function_first_line + 1);
  if (relative < 1 || relative > 0xFFFF) {
    if (!coff.line_range_reported)
      ctx_.diag.error("function '%s': relative line number %ld does not fit in a COFF line entry",
                      coff.function_name.c_str(), static_cast<long>(relative));
    coff.line_range_reported = true;
    return;
  }
  add_lineno_entry(ctx_, static_cast<u32>(relative), entry.address);
}

void CoffDebugBuilder::function_end(const DbLine& /*entry*/) {
  add_symbol_entry(ctx_, ".ef", 0, kSectionText, C_FCN, 1);
  add_line_aux(ctx_, ctx_.coff.function_last_line);
}

// Locals (kinds l and r) are absolute, the file's variables in .bss; a
// register variable's value names its registers.
void CoffDebugBuilder::symbol(const DbSym& sym) {
  u8 storage_class = C_STAT;
  int section = kSectionBss;
  const DebugState& debug = *ctx_.coff.tags.debug;
  std::string_view type = debug.text(sym.type);
  u32 value = sym.value;
  char kind = sym.kind();
  if (kind == 'l') {
    storage_class = C_AUTO;
    section = kSectionAbsolute;
  } else if (kind == 'r') {
    storage_class = C_REG;
    section = kSectionAbsolute;
    value = register_value(value, type);
  }
  u32 index = add_symbol_entry(ctx_, debug.text(sym.name()), value, section, storage_class, 0);
  map_coff_type(ctx_, index, std::string(type));
}

void CoffDebugBuilder::structure(const DbStruct& definition) {
  CoffState& coff = ctx_.coff;
  const DebugState& debug = *coff.tags.debug;
  coff.structs_present = true;
  std::string text(debug.text(definition.text));
  const char* p = text.c_str();
  long size = 0;
  std::string tag;
  if (read_decimal(p, size)) tag = read_word(p);
  // Anonymous structures are numbered .1, .2, ...; the entry gets a name
  // of its own while type strings keep referring to the number.
  if (tag.size() >= 2 && tag[0] == '.' && std::isdigit(static_cast<unsigned char>(tag[1]))) tag += "fake";

  u32 tag_index = add_symbol_entry(ctx_, tag, 0, 0, definition.is_struct ? C_STRTAG : C_UNTAG, 1);
  coff.tags.tag_entry[&definition] = tag_index;
  u32 tag_aux = add_aux_entry(ctx_);
  put16(entry_at(ctx_, tag_aux).data() + kAuxSize, static_cast<u32>(size));

  for (DbText field : debug.fields.run(definition.fields)) {
    std::string field_text(debug.text(field));
    const char* f = field_text.c_str();
    long offset = 0;
    std::string name, type;
    if (read_decimal(f, offset)) {
      name = read_word(f);
      type = read_word(f);
    }
    u32 member = add_symbol_entry(ctx_, name, static_cast<u32>(offset), 0, definition.is_struct ? C_MOS : C_MOU, 0);
    map_coff_type(ctx_, member, type);
  }

  add_symbol_entry(ctx_, "", static_cast<u32>(size), 0, C_EOS, 1);
  CoffEntry& end_aux = entry_at(ctx_, add_aux_entry(ctx_));
  put32(end_aux.data() + kAuxTagIndex, tag_index);
  put16(end_aux.data() + kAuxSize, static_cast<u32>(size));
  put32(entry_at(ctx_, tag_aux).data() + kAuxNextEntry, next_index(ctx_));
}

void CoffDebugBuilder::end_file(const DbFile& /*file*/) { resolve_tags(ctx_, ctx_.coff.tag_backpatch, true); }

void write_coff_file(LinkContext& ctx) {
  CoffState& coff = ctx.coff;
  resolve_tags(ctx, coff.late_tags, false);
  u32 line_count = static_cast<u32>(coff.lineno_table.size() / kLineEntrySize);
  coff_add_section_symbol(ctx, ".text", coff.text_start, coff.text_size, line_count, kSectionText);
  coff_add_section_symbol(ctx, ".bss", kBssAddress, 0, 0, kSectionBss);

  std::vector<u8> head(kHeadersSize, 0);
  u8* h = head.data();
  put16(h + kFhMagic, kFileMagic);
  put16(h + kFhSectionCount, kSectionCount);
  put32(h + kFhTimeStamp, static_cast<u32>(static_cast<i64>(ctx.link_time)));
  put32(h + kFhSymbolTable, coff.lineno_offset + kLineEntrySize * line_count);
  put32(h + kFhSymbolCount, next_index(ctx));
  put16(h + kFhOptionalSize, kOptionalHeaderSize);
  put16(h + kFhFlags, kFileFlags);
  u8* optional = h + kFileHeaderSize;
  put16(optional + kOhMagic, kOptionalMagic);
  put16(optional + kOhVersion, coff.structs_present ? kVersionWithStructs : 0);
  u8* sections = optional + kOptionalHeaderSize;
  write_section_header(sections, ".text", coff.text_start, coff.text_size, kHeadersSize, coff.lineno_offset,
                       line_count, kTextFlags);
  write_section_header(sections + kSectionHeaderSize, ".bss", kBssAddress, 0, 0, 0, 0, kBssFlags);

  std::vector<u8> raw(coff.text_size);
  for (u32 i = 0; i < coff.text_size; ++i) raw[i] = ctx.image.byte_at(coff.text_start + i);

  if (std::FILE* out = ctx.coff_file.get()) {
    std::fseek(out, 0, SEEK_SET);
    write_table(out, head);
    write_table(out, raw);
    write_table(out, coff.lineno_table);
    write_table(out, coff.symbol_table);
    write_table(out, coff.string_table);
  }
}

}  // namespace zeld
