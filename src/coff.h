// The COFF debug file (<base>.cof): the written range of the memory image as
// one .text section, a placeholder .bss section, line numbers, the symbol
// table and the string table, all little-endian. Entries are gathered in
// memory while the debug walk runs and written in one go at the end.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;
struct DbStruct;

// One symbol-table entry or auxiliary entry, exactly as written.
using CoffEntry = std::array<u8, 18>;

// Offsets of the fields of a symbol entry.
inline constexpr int kCoffValue = 8;     // 32-bit
inline constexpr int kCoffSection = 12;  // signed 16-bit
inline constexpr int kCoffType = 14;     // 16-bit
inline constexpr int kCoffClass = 16;    // 8-bit
inline constexpr int kCoffNumAux = 17;   // 8-bit

// The format counts line-number entries and relative lines in 16 bits.
inline constexpr u32 kMaxCoffLineEntries = 0xFFFF;
// Pending structure-tag references of one source file.
inline constexpr std::size_t kMaxTagBackpatch = 2048;

struct CoffState {
  std::vector<CoffEntry> symbol_table;
  std::vector<u8> lineno_table;  // 6-byte entries
  std::vector<u8> string_table;  // length word, then NUL-terminated names; empty until the first long name
  u32 text_start = 0;
  u32 text_size = 0;
  u32 lineno_offset = 0;
  bool structs_present = false;
  long last_file_entry = -1;
  long last_function_aux = -1;
  struct PendingTag {
    u32 aux_index;
    std::string tag;
    u32 symbol_index;  // the entry whose type named the tag
  };
  std::vector<PendingTag> tag_backpatch;  // the current source file's
  // References to definitions of a later source file, whose tag entries
  // exist only once the whole walk is done.
  std::vector<PendingTag> late_tags;
  std::string function_name;  // the function whose lines are being added
  bool line_range_reported = false;
  bool line_table_full_reported = false;
};

// Sets up the tables before any debug entry is added.
void prepare_coff(LinkContext& ctx);
// Writes the whole file into ctx.coff_file; the driver closes it.
void write_coff_file(LinkContext& ctx);

// Entries added by the debug walk.
void coff_add_file(LinkContext& ctx, const std::string& name);
void coff_begin_function(LinkContext& ctx, const std::string& name, u32 first_line, u32 address,
                         const std::string& type, u32 size);
void coff_add_block(LinkContext& ctx, bool begin, u32 line, u32 address);
void coff_add_line(LinkContext& ctx, u32 relative_line, u32 address);
void coff_end_function(LinkContext& ctx, u32 last_line);
void coff_add_variable(LinkContext& ctx, const std::string& name, char kind, u32 value, const std::string& type,
                       int section);
void coff_add_struct_tag(LinkContext& ctx, DbStruct& definition);
void resolve_pending_tags(LinkContext& ctx);

// Maps a debug type string onto the entry at `index`: its type field, and
// the auxiliary entries of its arrays and structure references, appended
// behind it. A string that breaks the grammar fails a consistency check.
void map_coff_type(LinkContext& ctx, u32 index, const std::string& type);

}  // namespace zeld
