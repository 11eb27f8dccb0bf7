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
// Records live in chunked pools of DebugState and name each other by
// index. A function's line entries and locals, and a definition's fields,
// arrive together (only the current function or definition receives them,
// and none becomes current again), so each holds a run of its pool, which
// ends where the next function's begins. Line entries are kept as a byte
// stream of deltas (mostly one byte an entry) with area-relative
// addresses; the walk decodes them and hands its visitors absolute values.
// A source file's functions, variables and definitions arrive over many
// modules and are linked through the records, as are a function's
// definitions. Names, types and texts are kept in one text store, which
// keeps a single copy of the texts that repeat (types, local names,
// definitions and fields); no record holds an allocation of its own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;
struct AreaPart;
class DebugVisitor;
class Diagnostics;

// Longest word or text of a d line that is kept; the rest is dropped.
inline constexpr std::size_t kMaxDebugWord = 511;
// Longest type string that is kept; a longer one is cut.
inline constexpr std::size_t kMaxDebugType = 131;

// Line numbers with a meaning of their own.
inline constexpr u32 kDebugLineBegin = 0xFFFFFFFF;     // function begin
inline constexpr u32 kDebugLineBlockEnd = 0xFFFFFFFE;  // the next entry gives the block end
inline constexpr u32 kDebugLineEnd = 0;                // function end

// The index that names no record (the end of a list).
inline constexpr u32 kNoDebugRecord = 0xFFFFFFFF;

// The first and last records of a list linked through the records' `next`
// indexes, and how many it holds.
struct DbList {
  u32 first = kNoDebugRecord;
  u32 last = kNoDebugRecord;
  u32 count = 0;
};

// A run of a pool: the records [begin, begin + count).
struct DbRun {
  u32 begin = 0;
  u32 count = 0;
};

// Records in chunks of 2^kChunkBits: an index names its record for the
// whole link, growing moves nothing (no copy at the peak), and releasing
// the pool frees a few chunks instead of a node per record.
template <typename T, unsigned kChunkBits>
class DebugPool {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  static constexpr u32 kChunkSize = u32{1} << kChunkBits;

  u32 size() const { return size_; }
  T& operator[](u32 index) { return chunks_[index >> kChunkBits][index & (kChunkSize - 1)]; }
  const T& operator[](u32 index) const { return chunks_[index >> kChunkBits][index & (kChunkSize - 1)]; }

  // Appends a record and gives its index. Past four thousand million
  // records the link is out of memory long before; it fails the same way.
  u32 add(const T& record) {
    if (size_ == kNoDebugRecord) throw std::bad_alloc();
    if ((size_ & (kChunkSize - 1)) == 0) chunks_.emplace_back(allocate_chunk());
    std::construct_at(&chunks_.back()[size_ & (kChunkSize - 1)], record);
    return size_++;
  }

  // The records of a run, or of a list linked through their `next`
  // indexes, in order.
  auto run(const DbRun& run) const { return Range<RunStep>{this, run.begin, run.begin + run.count}; }
  auto run(u32 begin, u32 end) const { return Range<RunStep>{this, begin, end}; }
  auto list(const DbList& list) const { return Range<ListStep>{this, list.first, kNoDebugRecord}; }

 private:
  struct FreeChunk {
    void operator()(T* chunk) const { std::allocator<T>().deallocate(chunk, kChunkSize); }
  };
  static T* allocate_chunk() { return std::allocator<T>().allocate(kChunkSize); }

  struct RunStep {
    u32 operator()(const DebugPool&, u32 index) const { return index + 1; }
  };
  struct ListStep {
    u32 operator()(const DebugPool& pool, u32 index) const { return pool[index].next; }
  };
  template <typename Step>
  struct Range {
    struct iterator {
      const DebugPool* pool;
      u32 index;
      const T& operator*() const { return (*pool)[index]; }
      const T* operator->() const { return &(*pool)[index]; }
      iterator& operator++() {
        index = Step()(*pool, index);
        return *this;
      }
      bool operator==(const iterator& other) const { return index == other.index; }
    };
    const DebugPool* pool;
    u32 first, end_index;
    iterator begin() const { return {pool, first}; }
    iterator end() const { return {pool, end_index}; }
  };

  std::vector<std::unique_ptr<T[], FreeChunk>> chunks_;
  u32 size_ = 0;
};

// A text of a d line, kept in DebugTexts: its place in the store. The
// place 0 holds the empty text. Places stay below 2^30, so that records
// can keep two bits of their own beside a text.
struct DbText {
  u32 at = 0;
  bool operator==(const DbText&) const = default;
};
inline constexpr u32 kDbTextBits = 30;
inline constexpr u32 kDbTextMask = (u32{1} << kDbTextBits) - 1;

// Texts kept for the length of a link in chunks of 64 KB, each behind its
// length (one byte below 128, else two). keep() stores a text; intern()
// gives a text that was interned before the place it already has, so a
// type or name that repeats a hundred thousand times is kept once.
class DebugTexts {
 public:
  DbText keep(std::string_view text);
  DbText intern(std::string_view text);
  std::string_view operator[](DbText text) const {
    if (text.at == 0) return {};
    const unsigned char* p = chunks_[text.at >> kChunkBits].get() + (text.at & (kChunkSize - 1));
    if (p[0] < 0x80) return {reinterpret_cast<const char*>(p + 1), p[0]};
    return {reinterpret_cast<const char*>(p + 2), std::size_t{p[0] & 0x7Fu} | std::size_t{p[1]} << 7};
  }

 private:
  static constexpr unsigned kChunkBits = 16;
  static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;
  DbText store(std::string_view text);
  void grow_interned();

  std::vector<std::unique_ptr<unsigned char[]>> chunks_;
  std::size_t used_ = kChunkSize;  // of the last chunk
  // Open addressing over the places of the interned texts; 0 is free.
  std::vector<u32> interned_;
  std::size_t interned_count_ = 0;
};

// A line entry as the walk hands it over: absolute address.
struct DbLine {
  u32 address = 0;
  u32 line = 0;  // > 0 (signed) a source line, or one of the markers above
};

// The line entries of all functions, one after the other, as bytes in
// chunks of 64 KB; a place is a byte's position in the stream. An entry
// holds the line as a code and the address as the difference from the
// entry before, or from the function's own address (see debug_info.cpp):
// one byte for most, at most eleven; no entry crosses a chunk.
class DebugLineStream {
 public:
  u32 size() const { return base_ + static_cast<u32>(cursor_ - chunk_); }
  // Appends an entry; `line_before` and `address_before` are the
  // function's last source line (0 at first) and last address (its own at
  // first), which the call brings up to date. Most entries take the
  // one-byte form here.
  void add(u32 line, u32 address, u32& line_before, u32& address_before) {
    u32 address_difference = address - address_before;
    if (cursor_ < limit_ && address_difference < kShortAddressDeltas) {
      u32 code = marker_code(line);
      if (code == kLinePad) {
        code = line - line_before + (kLineDelta - 1);
        if (code - kLineDelta >= kShortLineDeltas) return add_long(line, address, line_before, address_before);
        line_before = line;
      }
      *cursor_++ = static_cast<unsigned char>(code << 4 | address_difference);
      address_before = address;
      return;
    }
    add_long(line, address, line_before, address_before);
  }
  // Decodes the entries [begin, end) of one function whose own address is
  // `address` into `out`, which has room for end - begin of them, and
  // gives their count. Each address is `address` plus the entry's
  // distance from the function.
  u32 decode(u32 begin, u32 end, u32 address, DbLine* out) const;

 private:
  static constexpr unsigned kChunkBits = 16;
  static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;
  static constexpr std::size_t kMaxEntrySize = 11;
  // Codes of an entry's line (see debug_info.cpp).
  static constexpr u32 kLinePad = 0, kLineBeginCode = 1, kLineBlockEndCode = 2, kLineEndCode = 3, kLineDelta = 4;
  // The code of a marker line number; kLinePad for a source line.
  static constexpr u32 marker_code(u32 line) {
    return line == kDebugLineBegin      ? kLineBeginCode
           : line == kDebugLineBlockEnd ? kLineBlockEndCode
           : line == kDebugLineEnd      ? kLineEndCode
                                        : kLinePad;
  }
  static constexpr u32 kShortLineDeltas = 4;
  static constexpr u32 kShortAddressDeltas = 16;
  void add_long(u32 line, u32 address, u32& line_before, u32& address_before);
  void next_chunk();

  std::vector<std::unique_ptr<unsigned char[]>> chunks_;
  unsigned char* chunk_ = nullptr;   // the last chunk
  unsigned char* cursor_ = nullptr;  // where the next entry goes
  unsigned char* limit_ = nullptr;   // an entry starting here might not fit
  u32 base_ = 0;                     // the last chunk's place
};

struct DbSym {
  u32 name_and_kind = 0;  // the name's text; the kind in the two bits above
  DbText type;
  u32 value = 0;  // a variable's area-relative address; absolute as the walk hands it over

  // Kinds: l local, r register, s static, e global.
  static DbSym make(char kind, DbText name, DbText type, u32 value);
  DbText name() const { return {name_and_kind & kDbTextMask}; }
  char kind() const { return "lrse"[name_and_kind >> kDbTextBits]; }
};

// A variable of a source file (kinds s and e).
struct DbVariable {
  DbSym sym;
  u32 next = kNoDebugRecord;  // in the file's list
  u32 area_part = 0;          // of DebugState::area_parts
};

struct DbStruct {
  DbText text;    // size and tag
  DbRun fields;   // of DebugState::fields: offset, name and type
  u32 next = kNoDebugRecord;  // in its function's or file's list
  bool is_struct = true;
};

// The tag of a definition's text: what follows its last space; empty when
// it has none.
inline std::string_view debug_struct_tag(std::string_view text) {
  std::size_t space = text.rfind(' ');
  return space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
}

// The place of a function's stack text when it had no stack line.
inline constexpr u32 kNoDebugStack = 0xFFFFFFFF;

struct DbFunc {
  u32 name_and_static = 0;  // the name's text ("?" needs no begin marker and writes no FUNC line); the top bit: static
  DbText type;
  u32 stack = kNoDebugStack;  // the stack line's text
  u32 offset = 0;             // area-relative address
  u32 lines = 0;              // where its entries begin in DebugState::lines; the next function's begin there
  u32 locals = 0;             // its first of DebugState::locals (kinds l and r); the next function's follow
  u32 structs = kNoDebugRecord;  // its list of definitions in DebugState::function_structs, when it has one
  u32 next = kNoDebugRecord;     // in the file's list
  u32 area_part = 0;             // of DebugState::area_parts; none when read before the module's first A line

  DbText name() const { return {name_and_static & kDbTextMask}; }
  bool is_static() const { return (name_and_static >> 31) != 0; }
  bool has_stack() const { return stack != kNoDebugStack; }
};

struct DbFile {
  DbList functions;  // of DebugState::functions
  DbList variables;  // of DebugState::variables
  DbList structs;    // of DebugState::structs
  std::string name;  // the path, '/' turned into '\'
};

using DbStructList = DbList;

struct DebugState {
  std::deque<DbFile> files;  // first-appearance order
  // Open addressing over the files by path: a file's place in `files`
  // plus one; 0 is free.
  std::vector<u32> file_slots;
  DebugPool<DbFunc, 12> functions;
  DebugLineStream lines;
  DebugPool<DbSym, 13> locals;
  DebugPool<DbVariable, 12> variables;
  DebugPool<DbStruct, 12> structs;
  DebugPool<DbList, 8> function_structs;
  DebugPool<DbText, 13> fields;
  DebugTexts texts;  // names, types, stack texts, definitions and fields
  // The area parts that records name; 0 names none.
  std::vector<AreaPart*> area_parts{nullptr};

  // Not reset between modules: d lines before a module's first file line
  // attach to what the module before left open.
  DbFile* current_file = nullptr;
  u32 current_func = kNoDebugRecord;
  u32 current_struct = kNoDebugRecord;
  u32 current_line = 0;     // the current function's last source line
  u32 current_address = 0;  // and its last entry's address

  bool statics_defined = false;
  // Next ":n" suffix to try for each "file:name" of a static.
  std::unordered_map<std::string, int> next_static_suffix;
  std::string static_name;  // where define_static_debug_symbol builds a name

  std::string_view text(DbText t) const { return texts[t]; }
  bool unnamed(const DbFunc& f) const { return text(f.name()) == "?"; }
  const DbList& structs_of(const DbFunc& f) const {
    return f.structs == kNoDebugRecord ? kNoStructs : function_structs[f.structs];
  }
  // The end of function `index`'s entries in `lines`, and of its locals.
  u32 lines_end(u32 index) const { return index + 1 < functions.size() ? functions[index + 1].lines : lines.size(); }
  u32 locals_end(u32 index) const {
    return index + 1 < functions.size() ? functions[index + 1].locals : locals.size();
  }

  static constexpr DbList kNoStructs{};
};

// The absolute address of a record's area-relative one: the part's
// address added; an extended code page area gives the page:window form.
// Without a part the offset stands.
u32 absolute_debug_address(const AreaPart* part, u32 offset);

class Lexer;

// Pass-0 handler of a d line; `lex` stands just behind the d and is the
// only source read.
void collect_debug_line(LinkContext& ctx, Lexer& lex, AreaPart* area_part);
// Most d lines are line entries, which touch nothing but their two
// numbers: the reading thread parses them ahead. read_debug_line_entry
// reads such a line (`lex` just behind the d) as collect_debug_line would,
// and is false, having read nothing, for every other d line;
// collect_debug_line_entry is the handler of the numbers read.
bool read_debug_line_entry(Lexer& lex, u32& line, u32& address);
void collect_debug_line_entry(LinkContext& ctx, u32 line, u32 address);
// Defines the static symbols once the areas are placed;
// the walk makes the records' addresses absolute as it hands them over.
// Runs once; a second call does nothing.
void relocate_debug_records(LinkContext& ctx);
// Whether every static's symbol name ("file:name", with any ":n" suffix)
// is shorter than a symbol name may be, so that defining them reports
// nothing.
bool static_debug_names_fit(const DebugState& d);
// Writes the text of <base>.dbg to `out` in one walk over the records,
// which also hands every record to `also` when given (the COFF debug
// builder), reporting to `diag`. What was written when refused records stop
// the link stays written.
void write_debug_text(const LinkContext& ctx, Diagnostics& diag, std::FILE* out, DebugVisitor* also = nullptr);
// Makes <base>.dbg and writes the text there.
void write_debug_file(const LinkContext& ctx, Diagnostics& diag, const std::string& base_name,
                      DebugVisitor* also = nullptr);

// Inner steps, open to the unit tests.
DbFile& find_debug_file(LinkContext& ctx, const std::string& path);
void define_static_debug_symbol(LinkContext& ctx, const DbFile& file, std::string_view name,
                                AreaPart* area_part, u32 offset);

}  // namespace zeld
