// The COFF debug file (<base>.cof): the written range of the memory image as
// one .text section, a placeholder .bss section, line numbers, the symbol
// table and the string table, all little-endian. Entries are gathered in
// memory while the debug walk runs and written in one go at the end.
#pragma once

#include <string>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;
struct DbStruct;

struct CoffState {
  std::vector<u8> symbol_table;  // 18-byte entries
  std::vector<u8> lineno_table;  // 6-byte entries
  std::vector<u8> string_table;  // length word, then NUL-terminated names
  u32 text_start = 0;
  u32 text_size = 0;
  u32 lineno_offset = 0;
  bool structs_present = false;
  long last_file_entry = -1;
  long last_function_aux = -1;
  struct PendingTag {
    u32 aux_index;
    std::string tag;
    u32 symbol_index;
  };
  std::vector<PendingTag> tag_backpatch;
};

// Sets up the tables before any debug entry is added.
void prepare_coff(LinkContext& ctx);
// Writes the file and closes ctx.coff_file.
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

}  // namespace zeld
