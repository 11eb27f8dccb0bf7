// Debug information. Pass 0 hands every d line here; its records pile up
// per source file whatever the options. With -g the statics get
// "file:name" symbols after pass 1, before the map is written, and
// walk_debug_records hands the records once to its visitors, with their
// addresses made absolute: files in order of first appearance, then each
// file's definitions, functions (definitions, locals, line table) and
// variables. write_debug_file runs that walk with the <base>.dbg writer
// and whatever other visitor the driver gives (the COFF debug builder), so
// both see the same order.
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
  for (; n < rest.size(); ++n) {
    unsigned char c = static_cast<unsigned char>(rest[n]);
    if (c > ' ') continue;  // every white space character and NUL is at or below the blank
    if (c == '\0' || (stop_at_white && is_white(c))) break;
  }
  // The word and the white space ending it; a NUL or the end stays ahead.
  lex.move_to(rest.data() + (n < rest.size() && rest[n] != '\0' ? n + 1 : n));
  return rest.substr(0, std::min(n, kMaxDebugWord));
}

std::string_view read_debug_type(Lexer& lex) { return read_debug_word(lex, true, true).substr(0, kMaxDebugType); }

std::string_view last_component(std::string_view path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Line entries in the stream. Differences wrap at 32 bits, so every line
// number and address comes back as it was; the line's is from the
// function's source line before (0 at first), the address's from the
// entry before (the function's own address at first).
//
//   0ccc aaaa    one byte, most entries: code c and an address
//                difference a of 0 to 15
//   1xcc cccc    a code of any size (x: more 7-bit groups follow, low
//                group first, the top bit set on every byte but the
//                last), then the zigzag form of the address difference
//                in the same groups
//
// Codes 1 to 3 are the three markers. In one byte, 4 to 7 are a line
// difference of 1 to 4, and the byte 0 pads a chunk's end (the next entry
// starts the next chunk). Otherwise a source line is 4 plus the zigzag
// form of its difference.

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

}  // namespace

// An entry never crosses a chunk: one that might not fit goes to the next
// chunk, behind a padding code (there is always room for it). Places are
// 32-bit; past 4 GB of entries the link is out of memory long before.
void DebugLineStream::next_chunk() {
  if (chunks_.size() == (std::size_t{1} << (32 - kChunkBits)) - 1) throw std::bad_alloc();
  chunks_.push_back(std::make_unique_for_overwrite<unsigned char[]>(kChunkSize));
  if (chunk_) {
    *cursor_ = kLinePad;
    base_ += static_cast<u32>(kChunkSize);
  }
  chunk_ = cursor_ = chunks_.back().get();
  limit_ = chunk_ + kChunkSize - kMaxEntrySize + 1;
}

// Every entry that add() leaves: new chunks and the long form.
void DebugLineStream::add_long(u32 line, u32 address, u32& line_before, u32& address_before) {
  if (cursor_ >= limit_) next_chunk();
  u32 address_difference = address - address_before;
  address_before = address;
  u32 difference = 0;
  u32 short_code = marker_code(line);  // kLinePad: none yet
  if (short_code == kLinePad) {
    difference = line - line_before;
    line_before = line;
    if (difference - 1 < kShortLineDeltas) short_code = kLineDelta - 1 + difference;
  }
  if (short_code != kLinePad && address_difference < kShortAddressDeltas) {
    *cursor_++ = static_cast<unsigned char>(short_code << 4 | address_difference);
    return;
  }
  u64 code = short_code - 1 < kLineEndCode ? short_code : u64{kLineDelta} + zigzag(difference);
  unsigned char* p = cursor_;
  *p++ = static_cast<unsigned char>(0x80 | (code & 0x3F) | (code > 0x3F ? 0x40 : 0));
  if (code > 0x3F) p = put_varint(p, code >> 6);
  cursor_ = put_varint(p, zigzag(address_difference));
}

u32 DebugLineStream::decode(u32 begin, u32 end, u32 address, DbLine* out) const {
  static constexpr u32 kMarkers[] = {0, kDebugLineBegin, kDebugLineBlockEnd, kDebugLineEnd};
  DbLine* const first_out = out;
  u32 line = 0;
  const unsigned char* p = begin != end ? chunks_[begin >> kChunkBits].get() + (begin & (kChunkSize - 1)) : nullptr;
  for (u32 at = begin; at != end;) {
    unsigned first = *p;
    if (first - 1 < 0x7F) {  // one byte
      u32 code = first >> 4;
      address += first & 0xF;
      u32 value = code >= kLineDelta ? line += code - (kLineDelta - 1) : kMarkers[code];
      *out++ = DbLine{address, value};
      ++p;
      ++at;
    } else if (first == kLinePad) {
      at = (at | static_cast<u32>(kChunkSize - 1)) + 1;
      if (at != end) p = chunks_[at >> kChunkBits].get();
    } else {
      const unsigned char* start = p++;
      u64 code = first & 0x3F;
      if (first & 0x40) code |= get_varint(p) << 6;
      address += unzigzag(static_cast<u32>(get_varint(p)));
      u32 value = code >= kLineDelta ? line += unzigzag(static_cast<u32>(code - kLineDelta)) : kMarkers[code];
      *out++ = DbLine{address, value};
      at += static_cast<u32>(p - start);
    }
  }
  return static_cast<u32>(out - first_out);
}

namespace {

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
// current definition receives fields, and none becomes current again once
// another has.
template <typename Pool, typename Record>
void extend_run(Pool& pool, DbRun& run, const Record& record) {
  u32 index = pool.add(record);
  if (run.count == 0) run.begin = index;
  ++run.count;
}

// The current function is always the last one read, so its entries and
// locals go to the ends of their pools.
void collect_line_entry(LinkContext& ctx, Lexer& lex) {
  u32 line = lex.read_number();
  u32 address = lex.read_number();
  collect_debug_line_entry(ctx, line, address);
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

// The <base>.dbg writer. Lines are built straight into a buffer that goes
// to the stream in large pieces (the file of a large link has millions of
// lines); what is built when a refused record list stops the link still
// reaches the file, as it would line by line.
class DbgWriter final : public DebugVisitor {
 public:
  DbgWriter(std::FILE* out, const DebugState& debug)
      : out_(out), debug_(debug), buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)), p_(buffer_.get()) {
    put("KESTRAVINE DEBUG FORMAT\nVERSION 1.2\nCPU HC12\nFRAMEPOINTER SP\n");
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
    if (p_ != buffer_.get()) std::fwrite(buffer_.get(), 1, static_cast<std::size_t>(p_ - buffer_.get()), out_);
    p_ = buffer_.get();
  }

 private:
  // The buffer goes out once a line ends past kFlushSize; every piece
  // makes room for itself, and a text longer than the buffer goes to the
  // stream as it is.
  static constexpr std::size_t kFlushSize = 1 << 16;
  static constexpr std::size_t kBufferSize = kFlushSize + 1024;

  void make_room(std::size_t size) {
    if (static_cast<std::size_t>(buffer_.get() + kBufferSize - p_) < size) flush();
  }
  DbgWriter& put(std::string_view text) {
    if (text.empty()) return *this;  // an empty text may have no place at all
    make_room(text.size());
    if (text.size() > kBufferSize) {
      std::fwrite(text.data(), 1, text.size(), out_);
      return *this;
    }
    std::memcpy(p_, text.data(), text.size());
    p_ += text.size();
    return *this;
  }
  // A keyword: its length is known here, so the copy is a few moves.
  template <std::size_t N>
  DbgWriter& put(const char (&word)[N]) {
    make_room(N - 1);
    std::memcpy(p_, word, N - 1);
    p_ += N - 1;
    return *this;
  }
  DbgWriter& put(char c) {
    make_room(1);
    *p_++ = c;
    return *this;
  }
  // Upper-case hex digits, at least `width` of them (at most 8).
  DbgWriter& hex(u32 value, int width = 1) {
    make_room(8);
    p_ = write_hex_digits(p_, value, width);
    return *this;
  }
  DbgWriter& decimal(i32 value) {
    make_room(11);
    u32 magnitude = value < 0 ? 0u - static_cast<u32>(value) : static_cast<u32>(value);
    if (value < 0) *p_++ = '-';
    int digits = 1;
    for (u32 bound = 10; digits < 10 && magnitude >= bound; bound *= 10) ++digits;
    for (int i = digits; i-- > 0; magnitude /= 10) p_[i] = static_cast<char>('0' + magnitude % 10);
    p_ += digits;
    return *this;
  }
  void end_line() {
    put('\n');
    if (static_cast<std::size_t>(p_ - buffer_.get()) >= kFlushSize) flush();
  }

  std::FILE* out_;
  const DebugState& debug_;
  std::unique_ptr<char[]> buffer_;
  char* p_;                // where the next piece goes
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

namespace {

// Texts to intern are mostly a few characters long: a byte loop beats a
// library call.
std::size_t text_hash(std::string_view text) {
  u64 h = 0xCBF29CE484222325ull;
  for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return static_cast<std::size_t>(h ^ h >> 32);
}

bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i != a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

DbText DebugTexts::intern(std::string_view text) {
  text = text.substr(0, kMaxDebugWord);
  if (text.empty()) return {};
  if ((interned_count_ + 1) * 4 > interned_.size() * 3) grow_interned();
  std::size_t mask = interned_.size() - 1;
  for (std::size_t i = text_hash(text) & mask;; i = (i + 1) & mask) {
    u32 at = interned_[i];
    if (at == 0) {
      DbText kept = store(text);
      interned_[i] = kept.at;
      ++interned_count_;
      return kept;
    }
    if (same_text((*this)[DbText{at}], text)) return {at};
  }
}

void DebugTexts::grow_interned() {
  std::vector<u32> old = std::move(interned_);
  interned_.assign(old.empty() ? 1024 : 2 * old.size(), 0);
  std::size_t mask = interned_.size() - 1;
  for (u32 at : old) {
    if (at == 0) continue;
    std::size_t i = text_hash((*this)[DbText{at}]) & mask;
    while (interned_[i] != 0) i = (i + 1) & mask;
    interned_[i] = at;
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
  if ((d.files.size() + 1) * 2 > d.file_slots.size()) {
    d.file_slots.assign(std::max<std::size_t>(64, 2 * d.file_slots.size()), 0);
    std::size_t mask = d.file_slots.size() - 1;
    for (u32 n = 0; n != d.files.size(); ++n) {
      std::size_t i = text_hash(d.files[n].name) & mask;
      while (d.file_slots[i] != 0) i = (i + 1) & mask;
      d.file_slots[i] = n + 1;
    }
  }
  std::size_t mask = d.file_slots.size() - 1;
  for (std::size_t i = text_hash(path) & mask;; i = (i + 1) & mask) {
    u32 slot = d.file_slots[i];
    if (slot != 0 && d.files[slot - 1].name == path) return d.files[slot - 1];
    if (slot == 0) {
      d.files.emplace_back().name = path;
      d.file_slots[i] = static_cast<u32>(d.files.size());
      return d.files.back();
    }
  }
}

bool read_debug_line_entry(Lexer& lex, u32& line, u32& address) {
  // The skipped character, "line" and white space: none of them a NUL.
  std::string_view rest = lex.rest();
  if (rest.size() <= 5 || rest[1] != 'l' || rest[2] != 'i' || rest[3] != 'n' || rest[4] != 'e' ||
      !is_white(static_cast<unsigned char>(rest[5])) || rest[0] == '\0' ||
      is_white(static_cast<unsigned char>(rest[0])))
    return false;
  // Both numbers as two read_number calls would read them.
  lexer_detail::FieldScanner<false> scan(rest.data() + 6, rest.data() + rest.size(), lexer_detail::digit_bound(lex.radix));
  line = scan.number();
  address = scan.number();
  lex.move_to(scan.place());
  return true;
}

void collect_debug_line_entry(LinkContext& ctx, u32 line, u32 address) {
  DebugState& d = ctx.debug;
  if (d.current_func == kNoDebugRecord) return;
  d.lines.add(line, address, d.current_line, d.current_address);
  if (line == kDebugLineEnd) d.current_func = kNoDebugRecord;
}

void collect_debug_line(LinkContext& ctx, Lexer& lex, AreaPart* area_part) {
  DebugState& d = ctx.debug;
  // Most d lines are line entries: their keyword is taken in one look.
  if (u32 line, address; read_debug_line_entry(lex, line, address)) {
    collect_debug_line_entry(ctx, line, address);
    return;
  }
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
  // Built where the last name was: a link defines thousands of statics.
  std::string& base = ctx.debug.static_name;
  base.assign(last_component(file.name));
  base += ':';
  base += name;
  Symbol* sym = lookup_symbol(ctx, base, true);
  if (sym->flags & SYM_DEFINED) {
    std::string candidate = base;
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

namespace {

// Calls visit(file, name, area part, offset) for every static function and
// variable, file by file, functions first.
template <class Visit>
void for_each_static(const DebugState& d, Visit&& visit) {
  for (const DbFile& file : d.files) {
    for (const DbFunc& f : d.functions.list(file.functions))
      if (f.is_static()) visit(file, d.text(f.name()), d.area_parts[f.area_part], f.offset);
    for (const DbVariable& v : d.variables.list(file.variables))
      if (v.sym.kind() == 's') visit(file, d.text(v.sym.name()), d.area_parts[v.area_part], v.sym.value);
  }
}

}  // namespace

bool static_debug_names_fit(const DebugState& d) {
  // The longest suffix a name may take: ':' and ten digits.
  constexpr std::size_t kSuffix = 11;
  bool fit = true;
  for_each_static(d, [&](const DbFile& file, std::string_view name, AreaPart*, u32) {
    fit = fit && last_component(file.name).size() + 1 + name.size() + kSuffix < kMaxNameLength;
  });
  return fit;
}

void relocate_debug_records(LinkContext& ctx) {
  DebugState& d = ctx.debug;
  if (d.statics_defined) return;
  d.statics_defined = true;
  for_each_static(d, [&](const DbFile& file, std::string_view name, AreaPart* part, u32 offset) {
    define_static_debug_symbol(ctx, file, name, part, offset);
  });
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
      const u32 lines_end = d.lines_end(index);
      if (entries.size() < lines_end - f.lines) entries.resize(lines_end - f.lines);  // an entry takes a byte or more
      const std::size_t end = d.lines.decode(f.lines, lines_end, f.offset + (part ? part->address : 0), entries.data());
      if (part && part->area && (part->area->flags & AREA_EXT_CODE))
        for (std::size_t i = 0; i != end; ++i) entries[i].address = page_window_address(entries[i].address);
      std::size_t n = 0;
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

void write_debug_text(const LinkContext& ctx, Diagnostics& diag, std::FILE* out, DebugVisitor* also) {
  DbgWriter writer(out, ctx.debug);
  DebugVisitor* both[] = {&writer, also};
  walk_debug_records(ctx.debug, diag, std::span(both, also ? 2 : 1));
  if (const Symbol* start = ctx.symbols.find("__start")) writer.start(placed_address(*start));
}

void write_debug_file(const LinkContext& ctx, Diagnostics& diag, const std::string& base_name, DebugVisitor* also) {
  OutputFile stream = OutputFile::create(diag, base_name, "dbg", "w");
  write_debug_text(ctx, diag, stream.get(), also);
  stream.finish(diag);
}

}  // namespace zeld
