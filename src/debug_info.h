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
// and none becomes current again), so each holds a run of its pool. A
// source file's functions, variables and definitions arrive over many
// modules and are linked through the records, as are a function's
// definitions. Names, types and texts are kept in one text store; no
// record holds an allocation of its own.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <new>
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

// A text of a d line, kept in DebugTexts: 8 bytes where a view takes 16.
struct DbText {
  u32 chunk = 0;
  u16 offset = 0;
  u16 size = 0;  // at most kMaxDebugWord
};

// Texts kept for the length of a link in chunks of 64 KB.
class DebugTexts {
 public:
  DbText keep(std::string_view text);
  std::string_view operator[](DbText text) const {
    if (text.size == 0) return {};
    return {chunks_[text.chunk].get() + text.offset, text.size};
  }

 private:
  static constexpr std::size_t kChunkSize = std::size_t{1} << 16;
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::size_t used_ = kChunkSize;  // of the last chunk
};

struct DbLine {
  u32 address = 0;  // area-relative, absolute after relocation
  u32 line = 0;     // > 0 (signed) a source line, or one of the markers above
};

struct DbSym {
  DbText name;
  DbText type;
  u32 value = 0;
  char kind = 0;  // l local, r register, s static, e global
};

// A variable of a source file (kinds s and e).
struct DbVariable {
  DbSym sym;
  u32 next = kNoDebugRecord;  // in the file's list
  AreaPart* area_part = nullptr;
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

struct DbFunc {
  DbText name;  // "?" needs no begin marker and writes no FUNC line
  DbText type;
  DbText stack;
  u32 address = 0;  // area-relative, absolute after relocation
  DbRun lines;      // of DebugState::lines
  DbRun locals;     // of DebugState::locals (kinds l and r)
  DbList structs;   // of DebugState::structs
  u32 next = kNoDebugRecord;  // in the file's list
  char kind = 0;  // s static; anything else global
  bool has_stack = false;
  AreaPart* area_part = nullptr;  // none when read before the module's first A line
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
  std::unordered_map<std::string_view, DbFile*> files_by_path;  // keys view DbFile::name
  DebugPool<DbFunc, 12> functions;
  DebugPool<DbLine, 15> lines;
  DebugPool<DbSym, 13> locals;
  DebugPool<DbVariable, 12> variables;
  DebugPool<DbStruct, 12> structs;
  DebugPool<DbText, 13> fields;
  DebugTexts texts;  // names, types, stack texts, definitions and fields

  // Not reset between modules: d lines before a module's first file line
  // attach to what the module before left open.
  DbFile* current_file = nullptr;
  u32 current_func = kNoDebugRecord;
  u32 current_struct = kNoDebugRecord;

  bool relocated = false;
  // Next ":n" suffix to try for each "file:name" of a static.
  std::unordered_map<std::string, int> next_static_suffix;

  std::string_view text(DbText t) const { return texts[t]; }
  bool unnamed(const DbFunc& f) const { return text(f.name) == "?"; }
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
