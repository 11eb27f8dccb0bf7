// The COFF debug file (<base>.cof): the written range of the memory image as
// one .text section, a placeholder .bss section, line numbers, the symbol
// table and the string table, all little-endian. With -g the COFF debug
// builder, a visitor of the debug walk, gathers the entries in memory; the
// file is written in one go at the end.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common.h"
#include "debug_visitor.h"

namespace zeld {

struct LinkContext;

// One symbol-table entry or auxiliary entry, exactly as written.
using CoffEntry = std::array<u8, 18>;

// Offsets of the fields of a symbol entry.
inline constexpr int kCoffName = 0;        // 8 characters, or 0 and a string-table offset
inline constexpr int kCoffNameOffset = 4;  // 32-bit, when the first four bytes are 0
inline constexpr int kCoffValue = 8;       // 32-bit
inline constexpr int kCoffSection = 12;    // signed 16-bit
inline constexpr int kCoffType = 14;       // 16-bit
inline constexpr int kCoffClass = 16;      // 8-bit
inline constexpr int kCoffNumAux = 17;     // 8-bit

// The format counts line-number entries and relative lines in 16 bits.
inline constexpr u32 kMaxCoffLineEntries = 0xFFFF;
// Pending structure-tag references of one source file.
inline constexpr std::size_t kMaxTagBackpatch = 2048;

// Where structure tags named by type strings are looked up: the function
// and file scopes of the walk, then the file-level definitions of every
// file. The first definition of a tag decides.
struct CoffTagScopes {
  const DebugState* debug = nullptr;  // the records, as the walk handed them
  const DbStructList* file_scope = nullptr;
  const DbStructList* function_scope = nullptr;
  std::string file_name;  // the path of file_scope's file, named when a tag is found nowhere
  // Symbol index of each definition's tag entry, once written. Index 0 is
  // always a .file entry, so no tag entry has it.
  std::unordered_map<const DbStruct*, u32> tag_entry;
  // Built on first use: an index of each long list, and of the file-level
  // lists of all files in file order. Keys view the definitions' tags.
  using TagIndex = std::unordered_map<std::string_view, const DbStruct*>;
  std::unordered_map<const DbStructList*, TagIndex> list_index;
  std::optional<TagIndex> all_files_index;
};

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
  CoffTagScopes tags;
  std::string function_name;     // the function whose lines are being added
  u32 function_first_line = 0;   // relative line numbers count from it
  u32 function_last_line = 0;    // the last source line handed over
  bool line_range_reported = false;
  bool line_table_full_reported = false;
};

// Sets up the tables before any debug entry is added.
void prepare_coff(LinkContext& ctx);
// Writes the whole file into ctx.coff_file; the driver closes it.
void write_coff_file(LinkContext& ctx);

// The debug entries, added as the debug walk hands over its records: a
// .file entry for each source file; for each function its entry, .bf,
// .bb/.eb pairs, line numbers and .ef; a tag, members and end for each
// structure; an entry for each variable. Structure references that the
// function and file scopes cannot resolve yet are resolved at the end of
// their source file, or at the end of the walk.
class CoffDebugBuilder final : public DebugVisitor {
 public:
  explicit CoffDebugBuilder(LinkContext& ctx) : ctx_(ctx) {}

  void begin_walk(const DebugState& debug) override;
  void begin_file(const DbFile& file, std::string_view base_name) override;
  void structure(const DbStruct& definition) override;
  void enter_function(const DbFunc& function, const DbFunctionHead& head) override;
  void symbol(const DbSym& symbol) override;
  void line(const DbLine& entry) override;
  void block_end(const DbLine& end) override;
  void function_end(const DbLine& entry) override;
  void leave_function(const DbFunc& function) override;
  void end_file(const DbFile& file) override;

 private:
  LinkContext& ctx_;
};

// Maps a debug type string onto the entry at `index`: its type field, and
// the auxiliary entries of its arrays and structure references, appended
// behind it. A string that breaks the grammar is a counted error ("invalid
// COFF type") and leaves type 0. Open to the unit tests.
void map_coff_type(LinkContext& ctx, u32 index, const std::string& type);

}  // namespace zeld
