// Debug information. Pass 0 hands every d line here; its records pile up
// per source file whatever the options. With -g the statics get
// "file:name" symbols after pass 1, before the map is written, and
// walk_debug_records hands the records once to its visitors, with their
// addresses made absolute: files in order of first appearance, then each
// file's definitions, functions (definitions, locals, line table) and
// variables. write_debug_file runs
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

// Line entries in the stream: the line as a code, then the address as the
// zigzag form of its difference from the address before, each in 7-bit
// groups, low group first, the top bit set on every byte but the last.
// Code 0 pads a chunk's end (the next entry starts the next chunk), 1 to
// 3 are the three markers, and a source line is 4 plus the zigzag form of
// its difference from the function's source line before (0 at first).
// Differences wrap at 32 bits, so every line number and address comes
// back as it was.
enum LineCode : u32 { kLinePad = 0, kLineBeginCode = 1, kLineBlockEndCode = 2, kLineEndCode = 3, kLineDelta = 4 };

u32 zigzag(u32 difference) { return (difference << 1) ^ (0u - (difference >> 31)); }
u32 unzigzag(u32 code) { return (code >> 1) ^ (0u - (code & 1)); }

unsigned char* put_varint(unsigned char* p, u64 value) {
  while (value >= 0x80) {
    *p++ = static_cast<unsigned char>(value | 0x80);
    value >>= 7;
  }
  *p++ = static_cast<unsigned char>(value);
  return p;
}

u64 get_varint(const unsigned char*& p) {
  u64 value = *p & 0x7F;
  for (unsigned shift = 7; *p++ & 0x80; shift += 7) value |= u64{*p & 0x7Fu} << shift;
  return value;
}

// The index in `d.area_parts` of the part records are read in. A module's
// d lines share one part, so the last one stands first.
u32 area_part_index(DebugState& d, AreaPart* part) {
  if (!part) return 0;
  if (d.area_parts.back() != part) d.area_parts.push_back(part);
  return static_cast<u32>(d.area_parts.size() - 1);
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

// The current function is always the last one read, so its entries and
// locals go to the ends of their pools.
void collect_line_entry(LinkContext& ctx, Lexer& lex) {
  DebugState& d = ctx.debug;
  u32 line = lex.read_number();
  u32 address = lex.read_number();
  if (d.current_func == kNoDebugRecord) return;
  d.lines.add(line, address, d.current_line, d.current_address);
  if (line == kDebugLineEnd) d.current_func = kNoDebugRecord;
}

void collect_symbol(LinkContext& ctx, Lexer& lex, AreaPart* area_part) {
  DebugState& d = ctx.debug;
  char kind = static_cast<char>(lex.get_nonblank());
  std::string_view name = read_debug_word(lex, true, true);
  u32 value = lex.read_number();
  std::string_view type = read_debug_type(lex);
  bool local = kind == 'l' || kind == 'r';
  if (d.current_func != kNoDebugRecord && local) {
    d.locals.add(DbSym::make(kind, d.texts.intern(name), d.texts.intern(type), value));
  } else if (d.current_file && (kind == 's' || kind == 'e')) {
    DbVariable variable{DbSym::make(kind, d.texts.keep(name), d.texts.intern(type), value), kNoDebugRecord,
                        area_part_index(d, area_part)};
    link_record(d.variables, d.current_file->variables, d.variables.add(variable));
  }
}

void collect_function(LinkContext& ctx, Lexer& lex, AreaPart* area_part) {
  DebugState& d = ctx.debug;
  char kind = static_cast<char>(lex.get_nonblank());
  std::string_view name = read_debug_word(lex, true, true);
  u32 address = lex.read_number();
  if (!d.current_file) return;
  DbFunc f;
  f.area_part = area_part_index(d, area_part);
  f.name_and_static = d.texts.keep(name).at | (kind == 's' ? u32{1} << 31 : 0);
  f.offset = address;
  f.type = d.texts.intern(read_debug_type(lex));
  f.lines = d.lines.size();
  f.locals = d.locals.size();
  d.current_func = d.functions.add(f);
  d.current_line = 0;
  d.current_address = address;
  link_record(d.functions, d.current_file->functions, d.current_func);
}

void collect_struct(DebugState& d, std::string_view keyword, std::string_view text) {
  DbStruct s;
  s.is_struct = keyword[0] == 's';
  s.text = d.texts.intern(text);
  d.current_struct = d.structs.add(s);
  if (d.current_func != kNoDebugRecord) {
    DbFunc& f = d.functions[d.current_func];
    if (f.structs == kNoDebugRecord) f.structs = d.function_structs.add(DbList{});
    link_record(d.structs, d.function_structs[f.structs], d.current_struct);
  } else if (d.current_file) {
    link_record(d.structs, d.current_file->structs, d.current_struct);
  }
}

// A debug record list that the compiler would never write stops the link.
[[noreturn]] void refuse_debug_records(Diagnostics& diag, const DebugState& d, const DbFile& file,
                                       const DbFunc& function) {
  diag.fatal("incorrect debug information file: \"%s\" function: \"%s\"\n", file.name.c_str(),
             std::string(d.text(function.name())).c_str());
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

  void enter_function(const DbFunc& f, const DbFunctionHead& head) override {
    if (debug_.unnamed(f)) return;
    put("FUNC ").put(debug_.text(f.name())).put(' ').hex(head.address).put(' ').put(debug_.text(f.type)).end_line();
    put("BLOCK ").decimal(static_cast<i32>(head.first->line)).put(' ').hex(head.first->address).end_line();
  }

  void symbol(const DbSym& sym) override {
    char kind = sym.kind();
    switch (kind) {
      case 'l': put("DEFLOCAL "); break;
      case 'r': put("DEFREG "); break;
      case 'e': put("DEFGLOBAL "); break;
      default: put("DEFSTATIC "); break;
    }
    put(debug_.text(sym.name())).put(' ');
    if (kind == 'l' || kind == 'r')
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
  return store(text);
}

// A text is never longer than a chunk. Past 2^30 bytes of texts the link
// is out of memory long before; it fails the same way.
DbText DebugTexts::store(std::string_view text) {
  std::size_t length_size = text.size() < 0x80 ? 1 : 2;
  if (used_ + length_size + text.size() > kChunkSize) {
    if (chunks_.size() == (std::size_t{1} << (kDbTextBits - kChunkBits))) throw std::bad_alloc();
    chunks_.push_back(std::make_unique_for_overwrite<unsigned char[]>(kChunkSize));
    used_ = chunks_.size() == 1 ? 1 : 0;  // place 0 stands for the empty text
  }
  DbText kept{static_cast<u32>(((chunks_.size() - 1) << kChunkBits) | used_)};
  unsigned char* p = chunks_.back().get() + used_;
  if (length_size == 1) {
    *p++ = static_cast<unsigned char>(text.size());
  } else {
    *p++ = static_cast<unsigned char>(text.size() | 0x80);
    *p++ = static_cast<unsigned char>(text.size() >> 7);
  }
  std::memcpy(p, text.data(), text.size());
  used_ += length_size + text.size();
  return kept;
}

DbText DebugTexts::intern(std::string_view text) {
  text = text.substr(0, kMaxDebugWord);
  if (text.empty()) return {};
  if ((interned_count_ + 1) * 4 > interned_.size() * 3) grow_interned();
  std::size_t mask = interned_.size() - 1;
  for (std::size_t i = std::hash<std::string_view>()(text) & mask;; i = (i + 1) & mask) {
    u32 at = interned_[i];
    if (at == 0) {
      DbText kept = store(text);
      interned_[i] = kept.at;
      ++interned_count_;
      return kept;
    }
    if ((*this)[DbText{at}] == text) return {at};
  }
}

void DebugTexts::grow_interned() {
  std::vector<u32> old = std::move(interned_);
  interned_.assign(old.empty() ? 1024 : 2 * old.size(), 0);
  std::size_t mask = interned_.size() - 1;
  for (u32 at : old) {
    if (at == 0) continue;
    std::size_t i = std::hash<std::string_view>()((*this)[DbText{at}]) & mask;
    while (interned_[i] != 0) i = (i + 1) & mask;
    interned_[i] = at;
  }
}

// An entry never crosses a chunk: one that might not fit goes to the next
// chunk, behind a padding code when there is room for one. Positions are
// 32-bit; past 4 GB of entries the link is out of memory long before.
void DebugLineStream::add(u32 line, u32 address, u32& line_before, u32& address_before) {
  u64 capacity = u64{chunks_.size()} << kChunkBits;
  if (capacity - size_ < kMaxEntrySize) {
    if (chunks_.size() == (std::size_t{1} << (32 - kChunkBits)) - 1) throw std::bad_alloc();
    if (capacity != size_) chunks_.back()[size_ & (kChunkSize - 1)] = kLinePad;
    chunks_.push_back(std::make_unique_for_overwrite<unsigned char[]>(kChunkSize));
    size_ = capacity;
  }
  u64 code;
  if (line == kDebugLineBegin) {
    code = kLineBeginCode;
  } else if (line == kDebugLineBlockEnd) {
    code = kLineBlockEndCode;
  } else if (line == kDebugLineEnd) {
    code = kLineEndCode;
  } else {
    code = u64{kLineDelta} + zigzag(line - line_before);
    line_before = line;
  }
  unsigned char* start = chunks_.back().get() + (size_ & (kChunkSize - 1));
  unsigned char* p = put_varint(start, code);
  p = put_varint(p, zigzag(address - address_before));
  address_before = address;
  size_ += static_cast<u64>(p - start);
}

template <typename Each>
void DebugLineStream::decode(u32 begin, u32 end, u32 address, Each&& each) const {
  u32 line = 0;
  for (u32 at = begin; at != end;) {
    const unsigned char* start = chunks_[at >> kChunkBits].get() + (at & (kChunkSize - 1));
    const unsigned char* p = start;
    u64 code = get_varint(p);
    if (code == kLinePad) {
      at = (at | static_cast<u32>(kChunkSize - 1)) + 1;
      continue;
    }
    address += unzigzag(static_cast<u32>(get_varint(p)));
    u32 value;
    switch (code) {
      case kLineBeginCode: value = kDebugLineBegin; break;
      case kLineBlockEndCode: value = kDebugLineBlockEnd; break;
      case kLineEndCode: value = kDebugLineEnd; break;
      default: value = line += unzigzag(static_cast<u32>(code - kLineDelta)); break;
    }
    each(DbLine{address, value});
    at += static_cast<u32>(p - start);
  }
}

DbSym DbSym::make(char kind, DbText name, DbText type, u32 value) {
  u32 code = kind == 'l' ? 0 : kind == 'r' ? 1 : kind == 's' ? 2 : 3;
  return DbSym{name.at | code << kDbTextBits, type, value};
}

u32 absolute_debug_address(const AreaPart* part, u32 offset) {
  if (!part) return offset;
  u32 address = offset + part->address;
  if (part->area && (part->area->flags & AREA_EXT_CODE)) address = page_window_address(address);
  return address;
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
    if (d.current_func != kNoDebugRecord) d.functions[d.current_func].stack = d.texts.intern(text).at;
  } else if (keyword == "struct" || keyword == "union") {
    collect_struct(d, keyword, read_debug_word(lex, false, false));
  } else if (keyword == "field") {
    std::string_view text = read_debug_word(lex, false, false);
    if (d.current_struct != kNoDebugRecord)
      extend_run(d.fields, d.structs[d.current_struct].fields, d.texts.intern(text));
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
  if (d.statics_defined) return;
  d.statics_defined = true;
  for (const DbFile& file : d.files) {
    for (const DbFunc& f : d.functions.list(file.functions))
      if (f.is_static()) define_static_debug_symbol(ctx, file, d.text(f.name()), d.area_parts[f.area_part], f.offset);
    for (const DbVariable& v : d.variables.list(file.variables))
      if (v.sym.kind() == 's')
        define_static_debug_symbol(ctx, file, d.text(v.sym.name()), d.area_parts[v.area_part], v.sym.value);
  }
}

void walk_debug_records(const DebugState& d, Diagnostics& diag, std::span<DebugVisitor* const> visitors) {
  auto each = [&](auto&& call) {
    for (DebugVisitor* v : visitors) call(*v);
  };
  each([&](DebugVisitor& v) { v.begin_walk(d); });
  std::vector<DbLine> entries;  // of the function being walked
  for (const DbFile& file : d.files) {
    if (file.structs.count == 0 && file.functions.count == 0 && file.variables.count == 0) continue;
    std::string_view base_name = last_component(file.name);
    each([&](DebugVisitor& v) { v.begin_file(file, base_name); });
    for (const DbStruct& s : d.structs.list(file.structs)) each([&](DebugVisitor& v) { v.structure(s); });
    for (u32 index = file.functions.first; index != kNoDebugRecord; index = d.functions[index].next) {
      const DbFunc& f = d.functions[index];
      const AreaPart* part = d.area_parts[f.area_part];
      // The function's entries [n, end), absolute; a named one starts with
      // the begin marker and a line behind it.
      entries.clear();
      d.lines.decode(f.lines, d.lines_end(index), f.offset, [&](DbLine entry) {
        entry.address = absolute_debug_address(part, entry.address);
        entries.push_back(entry);
      });
      std::size_t n = 0;
      const std::size_t end = entries.size();
      if (!d.unnamed(f)) {
        if (end < 2 || entries[0].line != kDebugLineBegin) refuse_debug_records(diag, d, file, f);
        ++n;
      }
      DbFunctionHead head;
      head.address = absolute_debug_address(part, f.offset);
      if (n != end) head.first = entries[n];
      if (end != 0) head.last = entries[end - 1];
      each([&](DebugVisitor& v) { v.enter_function(f, head); });
      for (const DbStruct& s : d.structs.list(d.structs_of(f))) each([&](DebugVisitor& v) { v.structure(s); });
      for (const DbSym& sym : d.locals.run(f.locals, d.locals_end(index)))
        each([&](DebugVisitor& v) { v.symbol(sym); });
      // The entry behind a block end gives the end, then counts as an
      // entry of its own; other markers inside the table are skipped.
      for (; n != end; ++n) {
        const DbLine& entry = entries[n];
        if (static_cast<i32>(entry.line) > 0) {
          each([&](DebugVisitor& v) { v.line(entry); });
        } else if (entry.line == kDebugLineBlockEnd) {
          if (n + 1 == end) refuse_debug_records(diag, d, file, f);
          each([&](DebugVisitor& v) { v.block_end(entries[n + 1]); });
        } else if (entry.line == kDebugLineEnd) {
          each([&](DebugVisitor& v) { v.function_end(entry); });
        }
      }
      each([&](DebugVisitor& v) { v.leave_function(f); });
    }
    for (const DbVariable& var : d.variables.list(file.variables)) {
      DbSym sym = var.sym;
      sym.value = absolute_debug_address(d.area_parts[var.area_part], sym.value);
      each([&](DebugVisitor& v) { v.symbol(sym); });
    }
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
