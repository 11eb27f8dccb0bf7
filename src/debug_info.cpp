// Debug information. Pass 0 hands every d line here; its records pile up
// per source file whatever the options. With -g they are made absolute
// after pass 1 (statics getting "file:name" symbols before the map is
// written), and walk_debug_records hands them once to its visitors: files
// in order of first appearance, then each file's definitions, functions
// (definitions, locals, line table) and variables. write_debug_file runs
// that walk with the <base>.dbg writer and whatever other visitor the
// driver gives (the COFF debug builder), so both see the same order.
//
// Words and texts longer than 511 characters keep their first 511; records
// read before a module's first A line have no area part and keep their
// offsets as absolute addresses.
#include "debug_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "context.h"
#include "debug_visitor.h"

namespace zeld {

namespace {

// One field of a d line, viewed in the lexer's text. With `skip_blanks`
// blanks and tabs go first; with `stop_at_white` the word ends at (and
// consumes) the next white space, otherwise it runs to the end of the line.
std::string_view read_debug_word(Lexer& lex, bool skip_blanks, bool stop_at_white) {
  if (skip_blanks) lex.unget_char(lex.get_nonblank());
  std::string_view rest = lex.rest();
  std::size_t n = 0;
  while (n < rest.size() && rest[n] != '\0' && !(stop_at_white && is_white(static_cast<unsigned char>(rest[n])))) ++n;
  lex.skip_chars(n + 1);  // the word and the white space ending it
  return rest.substr(0, std::min(n, kMaxDebugWord));
}

std::string_view read_debug_type(Lexer& lex) { return read_debug_word(lex, true, true).substr(0, kMaxDebugType); }

std::string_view last_component(std::string_view path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Appends `index` to a list linked through the records' `next`.
template <typename Pool>
void link_record(Pool& pool, DbList& list, u32 index) {
  if (list.count == 0)
    list.first = index;
  else
    pool[list.last].next = index;
  list.last = index;
  ++list.count;
}

// Appends a record to `run`, which must be the pool's last run: only the
// current function or definition receives records, and none becomes
// current again once another has.
template <typename Pool, typename Record>
void extend_run(Pool& pool, DbRun& run, const Record& record) {
  u32 index = pool.add(record);
  if (run.count == 0) run.begin = index;
  ++run.count;
}

void collect_line_entry(LinkContext& ctx, Lexer& lex) {
  DebugState& d = ctx.debug;
  u32 line = lex.read_number();
  u32 address = lex.read_number();
  if (d.current_func == kNoDebugRecord) return;
  extend_run(d.lines, d.functions[d.current_func].lines, DbLine{address, line});
  if (line == kDebugLineEnd) d.current_func = kNoDebugRecord;
}

void collect_symbol(LinkContext& ctx, Lexer& lex, AreaPart* area_part) {
  DebugState& d = ctx.debug;
  DbSym sym;
  sym.kind = static_cast<char>(lex.get_nonblank());
  std::string_view name = read_debug_word(lex, true, true);
  sym.value = lex.read_number();
  std::string_view type = read_debug_type(lex);
  bool local = sym.kind == 'l' || sym.kind == 'r';
  if (d.current_func != kNoDebugRecord && local) {
    sym.name = d.texts.keep(name);
    sym.type = d.texts.keep(type);
    extend_run(d.locals, d.functions[d.current_func].locals, sym);
  } else if (d.current_file && (sym.kind == 's' || sym.kind == 'e')) {
    sym.name = d.texts.keep(name);
    sym.type = d.texts.keep(type);
    link_record(d.variables, d.current_file->variables, d.variables.add(DbVariable{sym, kNoDebugRecord, area_part}));
  }
}

void collect_function(LinkContext& ctx, Lexer& lex, AreaPart* area_part) {
  DebugState& d = ctx.debug;
  char kind = static_cast<char>(lex.get_nonblank());
  std::string_view name = read_debug_word(lex, true, true);
  u32 address = lex.read_number();
  if (!d.current_file) return;
  DbFunc f;
  f.area_part = area_part;
  f.name = d.texts.keep(name);
  f.address = address;
  f.kind = kind;
  f.type = d.texts.keep(read_debug_type(lex));
  d.current_func = d.functions.add(f);
  link_record(d.functions, d.current_file->functions, d.current_func);
}

void collect_struct(DebugState& d, std::string_view keyword, std::string_view text) {
  DbStruct s;
  s.is_struct = keyword[0] == 's';
  s.text = d.texts.keep(text);
  d.current_struct = d.structs.add(s);
  if (d.current_func != kNoDebugRecord)
    link_record(d.structs, d.functions[d.current_func].structs, d.current_struct);
  else if (d.current_file)
    link_record(d.structs, d.current_file->structs, d.current_struct);
}

// Base of an area-relative address: the part's address; an extended code
// page area gives the page:window form. Without a part the offset stands.
u32 absolute_debug_address(const AreaPart* part, u32 offset) {
  if (!part) return offset;
  u32 address = offset + part->address;
  if (part->area && (part->area->flags & AREA_EXT_CODE)) address = page_window_address(address);
  return address;
}

// A debug record list that the compiler would never write stops the link.
[[noreturn]] void refuse_debug_records(Diagnostics& diag, const DebugState& d, const DbFile& file,
                                       const DbFunc& function) {
  diag.fatal("incorrect debug information file: \"%s\" function: \"%s\"\n", file.name.c_str(),
             std::string(d.text(function.name)).c_str());
}

// The <base>.dbg writer. Lines are built in a buffer that goes to the
// stream in large pieces; what is built when a refused record list stops
// the link still reaches the file, as it would line by line.
class DbgWriter final : public DebugVisitor {
 public:
  DbgWriter(std::FILE* out, const DebugState& debug) : out_(out), debug_(debug) {
    text_.reserve(kFlushSize + 2 * kMaxDebugWord);
    text_ = "KESTRAVINE DEBUG FORMAT\nVERSION 1.2\nCPU HC12\nFRAMEPOINTER SP\n";
  }
  ~DbgWriter() override { flush(); }
  DbgWriter(const DbgWriter&) = delete;
  DbgWriter& operator=(const DbgWriter&) = delete;

  void begin_file(const DbFile& file, std::string_view base_name) override {
    std::size_t slash = file.name.rfind('\\');
    if (slash != std::string::npos) {
      std::string_view dir = std::string_view(file.name).substr(0, slash + 1);
      if (!equals_ignoring_case(dir, last_dir_)) {
        last_dir_ = dir;
        put("DIR ").put(dir).end_line();
      }
    }
    put("FILE ").put(base_name).end_line();
  }

  void structure(const DbStruct& s) override {
    std::string_view word = s.is_struct ? "STRUCT" : "UNION";
    put(word).put(' ').put(debug_.text(s.text)).end_line();
    for (DbText field : debug_.fields.run(s.fields))
      put("FIELD ").put(debug_.text(field)).end_line();
    put(word).put("END").end_line();
  }

  void enter_function(const DbFunc& f, const DbLine* first, const DbLine* /*last*/) override {
    if (debug_.unnamed(f)) return;
    put("FUNC ").put(debug_.text(f.name)).put(' ').hex(f.address).put(' ').put(debug_.text(f.type)).end_line();
    put("BLOCK ").decimal(static_cast<i32>(first->line)).put(' ').hex(first->address).end_line();
  }

  void symbol(const DbSym& sym) override {
    switch (sym.kind) {
      case 'l': put("DEFLOCAL "); break;
      case 'r': put("DEFREG "); break;
      case 'e': put("DEFGLOBAL "); break;
      default: put("DEFSTATIC "); break;
    }
    put(debug_.text(sym.name)).put(' ');
    if (sym.kind == 'l' || sym.kind == 'r')
      decimal(static_cast<i32>(sym.value));
    else
      hex(sym.value);
    put(' ').put(debug_.text(sym.type)).end_line();
  }

  void line(const DbLine& entry) override {
    put("LINE ").decimal(static_cast<i32>(entry.line)).put(' ').hex(entry.address).end_line();
  }
  void block_end(const DbLine& end) override {
    put("BLOCKEND ").decimal(static_cast<i32>(end.line)).put(' ').hex(end.address).end_line();
  }
  void function_end(const DbLine& entry) override { put("FUNCEND ").hex(entry.address).end_line(); }

  // The START line, when there is a __start.
  void start(u32 address) { put("START ").hex(address, 4).end_line(); }

  void flush() {
    if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

 private:
  static constexpr std::size_t kFlushSize = 1 << 16;

  DbgWriter& put(std::string_view text) {
    text_ += text;
    return *this;
  }
  DbgWriter& put(char c) {
    text_ += c;
    return *this;
  }
  // Upper-case hex digits, at least `width` of them (at most 8).
  DbgWriter& hex(u32 value, int width = 1) {
    char buffer[8];
    text_ += hex_digits(value, width, buffer);
    return *this;
  }
  DbgWriter& decimal(i32 value) {
    char digits[11];
    char* p = digits + sizeof digits;
    u32 magnitude = value < 0 ? 0u - static_cast<u32>(value) : static_cast<u32>(value);
    do {
      *--p = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    text_.append(p, digits + sizeof digits);
    return *this;
  }
  void end_line() {
    text_ += '\n';
    if (text_.size() >= kFlushSize) flush();
  }

  std::FILE* out_;
  const DebugState& debug_;
  std::string text_;
  std::string last_dir_;  // the last DIR written
};

}  // namespace

DbText DebugTexts::keep(std::string_view text) {
  text = text.substr(0, kMaxDebugWord);
  if (text.empty()) return {};
  if (used_ + text.size() > kChunkSize) {  // a text is never longer than a chunk
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(kChunkSize));
    used_ = 0;
  }
  DbText kept{static_cast<u32>(chunks_.size() - 1), static_cast<u16>(used_), static_cast<u16>(text.size())};
  std::memcpy(chunks_.back().get() + used_, text.data(), text.size());
  used_ += text.size();
  return kept;
}

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
  std::string_view word = read_debug_word(lex, false, true);
  if (word.size() < 2) return;  // no skipped character, or no keyword
  std::string_view keyword = word.substr(1);
  if (keyword == "line") {
    collect_line_entry(ctx, lex);
  } else if (keyword == "sym") {
    collect_symbol(ctx, lex, area_part);
  } else if (keyword == "func") {
    collect_function(ctx, lex, area_part);
  } else if (keyword == "file") {
    std::string path(read_debug_word(lex, true, false));
    for (char& c : path)
      if (c == '/') c = '\\';
    d.current_file = &find_debug_file(ctx, path);
    d.current_func = kNoDebugRecord;
  } else if (keyword == "stack") {
    std::string_view text = read_debug_word(lex, false, false);
    if (d.current_func != kNoDebugRecord) {
      DbFunc& f = d.functions[d.current_func];
      f.stack = d.texts.keep(text);
      f.has_stack = true;
    }
  } else if (keyword == "struct" || keyword == "union") {
    collect_struct(d, keyword, read_debug_word(lex, false, false));
  } else if (keyword == "field") {
    std::string_view text = read_debug_word(lex, false, false);
    if (d.current_struct != kNoDebugRecord)
      extend_run(d.fields, d.structs[d.current_struct].fields, d.texts.keep(text));
  }
}

void define_static_debug_symbol(LinkContext& ctx, const DbFile& file, std::string_view name,
                                AreaPart* area_part, u32 offset) {
  std::string base = std::string(last_component(file.name)) + ":";
  base += name;
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
    for (u32 i = file.functions.first; i != kNoDebugRecord;) {
      DbFunc& f = d.functions[i];
      if (f.kind == 's') define_static_debug_symbol(ctx, file, d.text(f.name), f.area_part, f.address);
      f.address = absolute_debug_address(f.area_part, f.address);
      for (u32 n = f.lines.begin; n != f.lines.begin + f.lines.count; ++n)
        d.lines[n].address = absolute_debug_address(f.area_part, d.lines[n].address);
      i = f.next;
    }
    for (u32 i = file.variables.first; i != kNoDebugRecord;) {
      DbVariable& v = d.variables[i];
      if (v.sym.kind == 's') define_static_debug_symbol(ctx, file, d.text(v.sym.name), v.area_part, v.sym.value);
      v.sym.value = absolute_debug_address(v.area_part, v.sym.value);
      i = v.next;
    }
  }
}

void walk_debug_records(const DebugState& d, Diagnostics& diag, std::span<DebugVisitor* const> visitors) {
  auto each = [&](auto&& call) {
    for (DebugVisitor* v : visitors) call(*v);
  };
  each([&](DebugVisitor& v) { v.begin_walk(d); });
  for (const DbFile& file : d.files) {
    if (file.structs.count == 0 && file.functions.count == 0 && file.variables.count == 0) continue;
    std::string_view base_name = last_component(file.name);
    each([&](DebugVisitor& v) { v.begin_file(file, base_name); });
    for (const DbStruct& s : d.structs.list(file.structs)) each([&](DebugVisitor& v) { v.structure(s); });
    for (const DbFunc& f : d.functions.list(file.functions)) {
      // The function's entries [n, end); a named one starts with the begin
      // marker and a line behind it.
      u32 n = f.lines.begin;
      const u32 end = f.lines.begin + f.lines.count;
      if (!d.unnamed(f)) {
        if (f.lines.count < 2 || d.lines[n].line != kDebugLineBegin) refuse_debug_records(diag, d, file, f);
        ++n;
      }
      const DbLine* first = n != end ? &d.lines[n] : nullptr;
      const DbLine* last = f.lines.count != 0 ? &d.lines[end - 1] : nullptr;
      each([&](DebugVisitor& v) { v.enter_function(f, first, last); });
      for (const DbStruct& s : d.structs.list(f.structs)) each([&](DebugVisitor& v) { v.structure(s); });
      for (const DbSym& sym : d.locals.run(f.locals))
        each([&](DebugVisitor& v) { v.symbol(sym); });
      // The entry behind a block end gives the end, then counts as an
      // entry of its own; other markers inside the table are skipped.
      for (; n != end; ++n) {
        const DbLine& entry = d.lines[n];
        if (static_cast<i32>(entry.line) > 0) {
          each([&](DebugVisitor& v) { v.line(entry); });
        } else if (entry.line == kDebugLineBlockEnd) {
          if (n + 1 == end) refuse_debug_records(diag, d, file, f);
          each([&](DebugVisitor& v) { v.block_end(d.lines[n + 1]); });
        } else if (entry.line == kDebugLineEnd) {
          each([&](DebugVisitor& v) { v.function_end(entry); });
        }
      }
      each([&](DebugVisitor& v) { v.leave_function(f); });
    }
    for (const DbVariable& var : d.variables.list(file.variables))
      each([&](DebugVisitor& v) { v.symbol(var.sym); });
    each([&](DebugVisitor& v) { v.end_file(file); });
  }
}

void write_debug_file(LinkContext& ctx, const std::string& base_name, DebugVisitor* also) {
  OutputFile stream = OutputFile::create(ctx.diag, base_name, "dbg", "w");
  {
    DbgWriter writer(stream.get(), ctx.debug);
    DebugVisitor* both[] = {&writer, also};
    walk_debug_records(ctx.debug, ctx.diag, std::span(both, also ? 2 : 1));
    if (Symbol* start = lookup_symbol(ctx, "__start", false)) writer.start(symbol_address(ctx, *start));
  }
  stream.finish(ctx.diag);
}

}  // namespace zeld
