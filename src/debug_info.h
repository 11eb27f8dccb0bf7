// Debug information: the modules' d lines, collected in pass 0 into one
// record per source file; with -g their addresses are made absolute after
// pass 1, static functions and variables get global symbols of their own
// ("file.c:name"), and one walk over the records (debug_visitor.h) writes
// <base>.dbg and hands the same records, in the same order, to any other
// visitor the driver names.
//
//   dXfile src/main.c           d, one skipped character, keyword, fields
//   dXfunc e main 10 fI
//   dXline FFFFFFFF 10          function-begin marker, then source lines
//   dXsym l i FFFFFFFE I
//
// Records are owned by pools in DebugState that never move their elements;
// files, functions and definitions keep their lists as vectors of pointers
// into the pools, so a link with many modules pays little per record.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common.h"
#include "string_arena.h"

namespace zeld {

struct LinkContext;
struct AreaPart;
class DebugVisitor;

// Longest word or text of a d line that is kept; the rest is dropped.
inline constexpr std::size_t kMaxDebugWord = 511;
// Longest type string that is kept; a longer one is cut.
inline constexpr std::size_t kMaxDebugType = 131;

// Line numbers with a meaning of their own.
inline constexpr u32 kDebugLineBegin = 0xFFFFFFFF;     // function begin
inline constexpr u32 kDebugLineBlockEnd = 0xFFFFFFFE;  // the next entry gives the block end
inline constexpr u32 kDebugLineEnd = 0;                // function end

struct DbLine {
  DbLine* next = nullptr;
  u32 address = 0;  // area-relative, absolute after relocation
  u32 line = 0;     // > 0 (signed) a source line, or one of the markers above
};

// Texts of symbols and functions view DebugState::texts.
struct DbSym {
  u32 value = 0;
  std::string_view type;
  char kind = 0;  // l local, r register, s static, e global
  AreaPart* area_part = nullptr;
  std::string_view name;
};

struct DbField {
  std::string text;  // offset, name and type
};

struct DbStruct {
  std::vector<DbField> fields;
  bool is_struct = true;
  std::string tag;   // text after the last space; empty when it has none
  std::string text;  // size and tag
};

struct DbFunc {
  DbLine* dbline_head = nullptr;
  DbLine* dbline_last = nullptr;
  u32 address = 0;  // area-relative, absolute after relocation
  std::string_view type;
  char kind = 0;  // s static; anything else global
  std::optional<std::string_view> stack;
  std::vector<DbSym> locals;
  std::vector<DbStruct*> structs;
  AreaPart* area_part = nullptr;  // none when read before the module's first A line
  std::string_view name;          // "?" needs no begin marker and writes no FUNC line

  bool unnamed() const { return name == "?"; }
};

struct DbFile {
  std::vector<DbFunc*> functions;
  std::vector<DbSym> variables;  // kinds s and e
  std::vector<DbStruct*> structs;
  std::string name;  // the path, '/' turned into '\'
};

using DbStructList = std::vector<DbStruct*>;

struct DebugState {
  std::deque<DbFile> files;  // first-appearance order
  std::unordered_map<std::string_view, DbFile*> files_by_path;  // keys view DbFile::name
  std::deque<DbFunc> function_pool;
  std::deque<DbStruct> struct_pool;
  std::deque<DbLine> line_pool;
  StringArena texts;  // names, types and stack texts of symbols and functions

  // Not reset between modules: d lines before a module's first file line
  // attach to what the module before left open.
  DbFile* current_file = nullptr;
  DbFunc* current_func = nullptr;
  DbStruct* current_struct = nullptr;

  bool relocated = false;
  // Next ":n" suffix to try for each "file:name" of a static.
  std::unordered_map<std::string, int> next_static_suffix;
};

class Lexer;

// Pass-0 handler of a d line; `lex` stands just behind the d and is the
// only source read.
void collect_debug_line(LinkContext& ctx, Lexer& lex, AreaPart* area_part);
// Gives the collected records their absolute addresses (after pass 1) and
// defines the static symbols. Runs once; a second call does nothing.
void relocate_debug_records(LinkContext& ctx);
// Writes <base>.dbg in one walk over the records, which also hands every
// record to `also` when given (the COFF debug builder).
void write_debug_file(LinkContext& ctx, const std::string& base_name, DebugVisitor* also = nullptr);

// Inner steps, open to the unit tests.
DbFile& find_debug_file(LinkContext& ctx, const std::string& path);
void define_static_debug_symbol(LinkContext& ctx, const DbFile& file, std::string_view name,
                                AreaPart* area_part, u32 offset);

}  // namespace zeld
