// Debug information. Pass 0 hands every d line here; its records pile up
// per source file whatever the options. With -g they are made absolute
// after pass 1 (statics getting "file:name" symbols before the map is
// written), and write_debug_file walks them once: files in order of first
// appearance, then each file's definitions, functions (definitions, locals,
// line table) and variables. The same walk feeds the COFF writer, so the
// order of its debug entries is the order of the lines in <base>.dbg.
//
// Words and texts longer than 511 characters keep their first 511; records
// read before a module's first A line have no area part and keep their
// offsets as absolute addresses.
#include "debug_info.h"

#include <cctype>
#include <cstdio>

#include "coff.h"
#include "context.h"

namespace zeld {

namespace {

bool is_white(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// One field of a d line. With `skip_blanks` blanks and tabs go first; with
// `stop_at_white` the word ends at (and consumes) the next white space,
// otherwise it runs to the end of the line.
std::string read_debug_word(Lexer& lex, bool skip_blanks, bool stop_at_white) {
  if (skip_blanks) lex.unget_char(lex.get_nonblank());
  std::string word;
  for (int c; (c = lex.get_char()) != 0;) {
    if (stop_at_white && is_white(c)) break;
    if (word.size() < kMaxDebugWord) word += static_cast<char>(c);
  }
  return word;
}

std::string read_debug_type(Lexer& lex) {
  std::string type = read_debug_word(lex, true, true);
  if (type.size() > kMaxDebugType) type.resize(kMaxDebugType);
  return type;
}

std::string last_component(const std::string& path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

DbStruct& new_struct(DebugState& d, std::string_view keyword, std::string text) {
  DbStruct& s = d.struct_pool.emplace_back();
  s.is_struct = keyword[0] == 's';
  std::size_t space = text.rfind(' ');
  if (space != std::string::npos) s.tag = text.substr(space + 1);
  s.text = std::move(text);
  return s;
}

void collect_line_entry(LinkContext& ctx, Lexer& lex) {
  DebugState& d = ctx.debug;
  u32 line = lex.read_number();
  u32 address = lex.read_number();
  DbFunc* f = d.current_func;
  if (!f) return;
  DbLine& entry = d.line_pool.emplace_back();
  entry.address = address;
  entry.line = line;
  if (f->dbline_last)
    f->dbline_last->next = &entry;
  else
    f->dbline_head = &entry;
  f->dbline_last = &entry;
  if (line == kDebugLineEnd) d.current_func = nullptr;
}

void collect_symbol(LinkContext& ctx, Lexer& lex, AreaPart* area_part) {
  DebugState& d = ctx.debug;
  DbSym sym;
  sym.kind = static_cast<char>(lex.get_nonblank());
  sym.name = read_debug_word(lex, true, true);
  sym.value = lex.read_number();
  sym.type = read_debug_type(lex);
  bool local = sym.kind == 'l' || sym.kind == 'r';
  if (d.current_func && local) {
    d.current_func->locals.push_back(std::move(sym));
  } else if (d.current_file && (sym.kind == 's' || sym.kind == 'e')) {
    sym.area_part = area_part;
    d.current_file->variables.push_back(std::move(sym));
  }
}

void collect_function(LinkContext& ctx, Lexer& lex, AreaPart* area_part) {
  DebugState& d = ctx.debug;
  char kind = static_cast<char>(lex.get_nonblank());
  std::string name = read_debug_word(lex, true, true);
  u32 address = lex.read_number();
  if (!d.current_file) return;
  DbFunc& f = d.function_pool.emplace_back();
  f.area_part = area_part;
  f.name = std::move(name);
  f.address = address;
  f.kind = kind;
  f.type = read_debug_type(lex);
  d.current_file->functions.push_back(&f);
  d.current_func = &f;
}

// Base of an area-relative address: the part's address; an extended code
// page area gives the page:window form. Without a part the offset stands.
u32 absolute_debug_address(const AreaPart* part, u32 offset) {
  if (!part) return offset;
  u32 address = offset + part->address;
  if (part->area && (part->area->flags & AREA_EXT_CODE)) address = page_window_address(address);
  return address;
}

void write_struct_definitions(LinkContext& ctx, std::FILE* out, const DbStructList& list, int slot,
                              const std::string& owner) {
  DebugState& d = ctx.debug;
  d.tag_scope[slot] = &list;
  d.tag_scope_owner[slot] = owner;
  for (DbStruct* s : list) {
    const char* word = s->is_struct ? "STRUCT" : "UNION";
    std::fprintf(out, "%s %s\n", word, s->text.c_str());
    for (const DbField& field : s->fields) std::fprintf(out, "FIELD %s\n", field.text.c_str());
    std::fprintf(out, "%sEND\n", word);
    if (d.coff_debug_active) coff_add_struct_tag(ctx, *s);
  }
}

void write_variable_records(LinkContext& ctx, std::FILE* out, const std::vector<DbSym>& list, int section) {
  for (const DbSym& sym : list) {
    const char* name = sym.name.c_str();
    const char* type = sym.type.c_str();
    if (sym.kind == 'l')
      std::fprintf(out, "DEFLOCAL %s %ld %s\n", name, static_cast<long>(static_cast<i32>(sym.value)), type);
    else if (sym.kind == 'r')
      std::fprintf(out, "DEFREG %s %ld %s\n", name, static_cast<long>(static_cast<i32>(sym.value)), type);
    else
      std::fprintf(out, "DEF%s %s %lX %s\n", sym.kind == 'e' ? "GLOBAL" : "STATIC", name,
                   static_cast<unsigned long>(sym.value), type);
    if (ctx.debug.coff_debug_active) coff_add_variable(ctx, sym.name, sym.kind, sym.value, sym.type, section);
  }
}

// A debug record list that the compiler would never write (a block end or a
// begin marker with nothing after it) stops the link like a missing begin
// marker does.
[[noreturn]] void refuse_debug_records(LinkContext& ctx, const std::string& file, const std::string& function) {
  ctx.diag.fatal("incorrect debug information file: \"%s\" function: \"%s\"\n", file.c_str(), function.c_str());
}

void write_line_table(LinkContext& ctx, std::FILE* out, const DbLine* first, const std::string& file,
                      const std::string& function) {
  bool coff = ctx.debug.coff_debug_active;
  u32 base_line = first->line;
  u32 last_line = first->line;
  for (const DbLine* dbline = first; dbline; dbline = dbline->next) {
    if (static_cast<i32>(dbline->line) > 0) {
      std::fprintf(out, "LINE %d %X\n", static_cast<int>(dbline->line), dbline->address);
      if (coff) coff_add_line(ctx, dbline->line - base_line + 1, dbline->address);
      last_line = dbline->line;
    } else if (dbline->line == kDebugLineBlockEnd) {
      if (!dbline->next) refuse_debug_records(ctx, file, function);
      const DbLine* end = dbline->next;
      std::fprintf(out, "BLOCKEND %d %X\n", static_cast<int>(end->line), end->address);
      if (coff) coff_add_block(ctx, false, end->line, end->address);
    } else if (dbline->line == kDebugLineEnd) {
      std::fprintf(out, "FUNCEND %X\n", dbline->address);
      if (coff) coff_end_function(ctx, last_line);
    }
  }
}

void write_function_records(LinkContext& ctx, std::FILE* out, const DbFile& file) {
  DebugState& d = ctx.debug;
  for (const DbFunc* dbfunc : file.functions) {
    const DbLine* first;
    if (dbfunc->name == "?") {
      first = dbfunc->dbline_head;
      if (d.coff_debug_active && first)
        coff_begin_function(ctx, dbfunc->name, first->line, dbfunc->address, dbfunc->type,
                            dbfunc->dbline_last->address - dbfunc->address);
    } else {
      if (!dbfunc->dbline_head || dbfunc->dbline_head->line != kDebugLineBegin || !dbfunc->dbline_head->next)
        refuse_debug_records(ctx, file.name, dbfunc->name);
      first = dbfunc->dbline_head->next;
      std::fprintf(out, "FUNC %s %X %s\n", dbfunc->name.c_str(), dbfunc->address, dbfunc->type.c_str());
      std::fprintf(out, "BLOCK %d %X\n", static_cast<int>(first->line), first->address);
      if (d.coff_debug_active) {
        coff_begin_function(ctx, dbfunc->name, first->line, dbfunc->address, dbfunc->type,
                            dbfunc->dbline_last->address - dbfunc->address);
        coff_add_block(ctx, true, first->line, first->address);
      }
    }
    write_struct_definitions(ctx, out, dbfunc->structs, 1, dbfunc->name);
    write_variable_records(ctx, out, dbfunc->locals, -1);
    if (first) write_line_table(ctx, out, first, file.name, dbfunc->name);
  }
  d.tag_scope[1] = nullptr;
  d.tag_scope_owner[1].clear();
}

void write_debug_source_file(LinkContext& ctx, std::FILE* out, const DbFile& file) {
  DebugState& d = ctx.debug;
  if (file.structs.empty() && file.functions.empty() && file.variables.empty()) return;
  std::size_t slash = file.name.rfind('\\');
  if (slash != std::string::npos) {
    std::string_view dir = std::string_view(file.name).substr(0, slash + 1);
    if (!equals_ignoring_case(dir, d.last_debug_dir)) {
      d.last_debug_dir = dir;
      std::fprintf(out, "DIR %s\n", d.last_debug_dir.c_str());
    }
  }
  std::string base_name = last_component(file.name);
  std::fprintf(out, "FILE %s\n", base_name.c_str());
  if (d.coff_debug_active) coff_add_file(ctx, base_name);
  write_struct_definitions(ctx, out, file.structs, 0, file.name);
  write_function_records(ctx, out, file);
  write_variable_records(ctx, out, file.variables, 2);
  if (d.coff_debug_active) resolve_pending_tags(ctx);
}

void add_tags(DebugState::TagIndex& index, const DbStructList& list) {
  for (const DbStruct* s : list)
    if (!s->tag.empty()) index.try_emplace(s->tag, s);
}

// Lists this short are searched in place; longer ones (a header file named
// by thousands of modules collects definitions from each) get an index.
constexpr std::size_t kShortTagList = 16;

// The first definition of `tag` in `list`. A definition without a tag
// (its text has no space) is never found.
const DbStruct* find_tag_in(DebugState& d, const DbStructList* list, const std::string& tag) {
  if (!list || tag.empty()) return nullptr;
  if (list->size() <= kShortTagList) {
    for (const DbStruct* s : *list)
      if (s->tag == tag) return s;
    return nullptr;
  }
  auto [entry, fresh] = d.list_tag_index.try_emplace(list);
  if (fresh) add_tags(entry->second, *list);
  auto found = entry->second.find(tag);
  return found == entry->second.end() ? nullptr : found->second;
}

}  // namespace

DbFile& find_debug_file(LinkContext& ctx, const std::string& path) {
  DebugState& d = ctx.debug;
  auto it = d.files_by_path.find(path);
  if (it != d.files_by_path.end()) return *it->second;
  DbFile& file = d.files.emplace_back();
  file.name = path;
  d.files_by_path.emplace(file.name, &file);
  return file;
}

void collect_debug_line(LinkContext& ctx, Lexer& lex, AreaPart* area_part) {
  DebugState& d = ctx.debug;
  std::string word = read_debug_word(lex, false, true);
  if (word.size() < 2) return;  // no skipped character, or no keyword
  std::string_view keyword = std::string_view(word).substr(1);
  if (keyword == "line") {
    collect_line_entry(ctx, lex);
  } else if (keyword == "sym") {
    collect_symbol(ctx, lex, area_part);
  } else if (keyword == "func") {
    collect_function(ctx, lex, area_part);
  } else if (keyword == "file") {
    std::string path = read_debug_word(lex, true, false);
    for (char& c : path)
      if (c == '/') c = '\\';
    d.current_file = &find_debug_file(ctx, path);
    d.current_func = nullptr;
  } else if (keyword == "stack") {
    std::string text = read_debug_word(lex, false, false);
    if (d.current_func) d.current_func->stack = std::move(text);
  } else if (keyword == "struct" || keyword == "union") {
    DbStruct& s = new_struct(d, keyword, read_debug_word(lex, false, false));
    d.current_struct = &s;
    if (d.current_func)
      d.current_func->structs.push_back(&s);
    else if (d.current_file)
      d.current_file->structs.push_back(&s);
  } else if (keyword == "field") {
    std::string text = read_debug_word(lex, false, false);
    if (d.current_struct) d.current_struct->fields.push_back(DbField{std::move(text)});
  }
}

void define_static_debug_symbol(LinkContext& ctx, const DbFile& file, const std::string& name,
                                AreaPart* area_part, u32 offset) {
  std::string base = last_component(file.name) + ":" + name;
  std::string candidate = base;
  Symbol* sym = lookup_symbol(ctx, candidate, true);
  if (sym->flags & SYM_DEFINED) {
    // Every suffix below the one kept for this name is taken already:
    // symbols never lose their definition.
    int& n = ctx.debug.next_static_suffix.try_emplace(base, 1).first->second;
    while (sym->flags & SYM_DEFINED) {
      // A name cut to 128 characters names the same symbol for every
      // longer suffix; the cut was reported and the static stays unnamed.
      if (sym->name.size() < candidate.size()) return;
      candidate = strprintf("%s:%d", base.c_str(), n++);
      sym = lookup_symbol(ctx, candidate, true);
    }
  }
  sym->area_part = area_part;
  sym->value = offset;
  sym->flags = SYM_DEFINED;
}

void relocate_debug_records(LinkContext& ctx) {
  DebugState& d = ctx.debug;
  if (d.relocated) return;
  d.relocated = true;
  for (DbFile& file : d.files) {
    for (DbFunc* f : file.functions) {
      if (f->kind == 's') define_static_debug_symbol(ctx, file, f->name, f->area_part, f->address);
      f->address = absolute_debug_address(f->area_part, f->address);
      for (DbLine* entry = f->dbline_head; entry; entry = entry->next)
        entry->address = absolute_debug_address(f->area_part, entry->address);
    }
    for (DbSym& sym : file.variables) {
      if (sym.kind == 's') define_static_debug_symbol(ctx, file, sym.name, sym.area_part, sym.value);
      sym.value = absolute_debug_address(sym.area_part, sym.value);
    }
  }
}

void write_debug_file(LinkContext& ctx, const std::string& base_name) {
  DebugState& d = ctx.debug;
  OutputFile stream = OutputFile::create(ctx.diag, base_name, "dbg", "w");
  std::FILE* out = stream.get();
  d.coff_debug_active = (ctx.options.output_formats & FORMAT_COFF) != 0;
  std::fprintf(out, "KESTRAVINE DEBUG FORMAT\n");
  std::fprintf(out, "VERSION 1.2\n");
  std::fprintf(out, "CPU %s\n", "HC12");
  std::fprintf(out, "FRAMEPOINTER %s\n", "SP");
  for (const DbFile& file : d.files) write_debug_source_file(ctx, out, file);
  if (Symbol* start = lookup_symbol(ctx, "__start", false))
    std::fprintf(out, "START %04X\n", symbol_address(ctx, *start));
  stream.finish(ctx.diag);
}

// A definition whose tag entry is not written yet gives 0, which no tag
// entry can have; the COFF writer keeps such references for later.
long find_struct_tag(LinkContext& ctx, const std::string& tag, bool all_files) {
  DebugState& d = ctx.debug;
  for (int slot : {1, 0})
    if (const DbStruct* s = find_tag_in(d, d.tag_scope[slot], tag)) return s->tag_index;
  if (!all_files) return -1;
  if (!d.all_files_tag_index) {
    d.all_files_tag_index.emplace();
    for (const DbFile& file : d.files) add_tags(*d.all_files_tag_index, file.structs);
  }
  auto found = d.all_files_tag_index->find(tag);
  if (found != d.all_files_tag_index->end()) return found->second->tag_index;
  ctx.diag.write("  File %s \n", d.tag_scope_owner[0].c_str());
  return -1;
}

}  // namespace zeld
