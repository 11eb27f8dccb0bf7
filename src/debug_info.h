// Debug information: the modules' d lines, collected in pass 0 into one
// record per source file; with -g their addresses are made absolute after
// pass 1, static functions and variables get global symbols of their own
// ("file.c:name"), and the walk over the records writes <base>.dbg and,
// when COFF output is on, drives the COFF debug entries in the same order.
//
//   dXfile src/main.c           d, one skipped character, keyword, fields
//   dXfunc e main 10 fI
//   dXline FFFFFFFF 10          function-begin marker, then source lines
//   dXsym l i FFFFFFFE I
#pragma once

#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;
struct AreaPart;

struct DbLine {
  u32 address = 0;
  u32 line = 0;  // > 0 a source line; 0xFFFFFFFF begin; 0xFFFFFFFE block end; 0 function end
};

struct DbSym {
  u32 value = 0;
  std::string type;
  char kind = 0;
  AreaPart* area_part = nullptr;
  std::string name;
};

struct DbField {
  std::string text;  // offset, name and type
};

struct DbStruct {
  std::vector<DbField> fields;
  bool is_struct = true;
  u32 tag_index = 0;  // index of its tag entry in the COFF symbol table
  std::string tag;    // text after the last space
  std::string text;   // size and tag
};

struct DbFunc {
  std::vector<DbLine> lines;
  u32 address = 0;
  std::string type;
  char kind = 0;
  std::optional<std::string> stack;
  std::vector<DbSym> locals;
  std::deque<DbStruct> structs;
  AreaPart* area_part = nullptr;
  std::string name;
};

struct DbFile {
  std::deque<DbFunc> functions;
  std::vector<DbSym> variables;
  std::deque<DbStruct> structs;
  std::string name;  // the path, '/' turned into '\'
};

struct DebugState {
  std::deque<DbFile> files;  // first-appearance order
  DbFile* current_file = nullptr;
  DbFunc* current_func = nullptr;
  DbStruct* current_struct = nullptr;
  // Scopes searched by find_struct_tag: 0 the file, 1 the function.
  const std::deque<DbStruct>* tag_scope[2] = {nullptr, nullptr};
  std::string tag_scope_owner[2];
  std::string last_debug_dir;
  bool coff_debug_active = false;
  bool relocated = false;
};

// Pass-0 handler of a d line.
void collect_debug_line(LinkContext& ctx, AreaPart* area_part);
// Gives the collected records their absolute addresses (after pass 1) and
// defines the static symbols.
void relocate_debug_records(LinkContext& ctx);
// Writes <base>.dbg (and the COFF debug entries when COFF output is on).
void write_debug_file(LinkContext& ctx, const std::string& base_name);
// Tag index of the structure named `tag` in the function and file scopes
// (and every file's scope when `all_files`), or -1.
long find_struct_tag(LinkContext& ctx, const std::string& tag, bool all_files);

}  // namespace zeld
