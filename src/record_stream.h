// What pass 1 reads instead of the object text. Pass 0 parses every T, R
// and P line once, while it reads the text for everything else, and
// appends the parsed record here together with the few events of the
// reading that pass 1 must see again in the same order: a file starts or
// ends, a module (H line) or an area (A line) begins, the byte order or the
// XGATE mark changes. Pass 1 walks these entries; it never sees text.
//
// Entries are packed into blocks of bytes (numbers as 7-bit groups, small
// ones in one byte), so that the parsed records take a fraction of the
// text they come from. Past a set amount, finished blocks wait for pass 1
// in a temporary file (spill_file.h) rather than in memory, and a cursor
// reads them back one at a time.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common.h"

namespace zeld {

class SpillFile;

inline constexpr int kMaxRecordValues = 16;

// A parsed T line: the load address and data values, or why it was refused.
struct TextLine {
  enum Status : u8 { kOk, kNotANumber, kTooManyValues, kNoLoadAddress };
  Status status = kOk;
  int count = 0;
  std::array<u32, kMaxRecordValues> values{};
};

// One relocation item of an R or P line: mode, position in the record and
// the two numbers of its area or symbol index (in the module's byte order).
struct FieldItem {
  u32 mode = 0, position = 0, index_b1 = 0, index_b2 = 0;
};

// A parsed R or P line: the "0 0" that opens it (read right or not), the
// two numbers of its area index, the items read, and whether a field that
// was not a number ended the items.
struct FieldLine {
  bool zero_pair_ok = true;
  u32 area_b1 = 0, area_b2 = 0;
  std::vector<FieldItem> items;
  bool stopped_at_non_number = false;
};

enum class RecordKind : u8 {
  kEndOfBlock = 0,
  kFileStart,  // number: file index
  kFileEnd,    // number: lines the file counted
  kHeader,     // an H line
  kArea,       // an A line
  kFormat,     // number: bit 0 high byte first, bit 1 XGATE module
  kText,       // a T line
  kRelocation, // an R line
  kPaging,     // a P line
  kModule,     // number: a module of another object format (ELF), relocated whole
};

// One entry as pass 1 sees it. `line` is the line number the reading had
// counted at the entry's line (records only).
struct RecordEntry {
  RecordKind kind = RecordKind::kEndOfBlock;
  u32 number = 0;
  int line = 0;
  TextLine text;
  FieldLine fields;
};

// A block kept in the temporary file could not be read back; the error
// number says why.
struct RecordSpillError {
  int error_number = 0;
};

class RecordStream {
 public:
  // Blocks of the default size suit the link's one stream; a stream of
  // one file, made to be appended, takes smaller ones.
  static constexpr std::size_t kDefaultBlockSize = 1 << 18;
  static constexpr std::size_t kSmallBlockSize = 1 << 14;
  RecordStream() : RecordStream(kDefaultBlockSize) {}
  explicit RecordStream(std::size_t block_size);
  RecordStream(RecordStream&&) noexcept;
  RecordStream& operator=(RecordStream&&) noexcept;
  ~RecordStream();

  // Once the finished blocks in memory exceed `bytes`, they and every
  // block finished after them go to a temporary file. Without one (none
  // can be made, or the disk is full) the blocks stay in memory.
  void spill_after(std::size_t bytes) { spill_after_ = bytes; }
  // Blocks in the temporary file, for the tests.
  std::size_t spilled_blocks() const { return spilled_; }

  void add_file_start(u32 file_index);
  void add_file_end(int lines);
  void add_event(RecordKind kind);  // kHeader, kArea
  void add_module(u32 index);
  void add_format(bool high_byte_first, bool xgate);
  void add_text(int line, const TextLine& text);
  void add_fields(RecordKind kind, int line, const FieldLine& fields);
  // Appends the entries of `other`, a stream begun right after a file's
  // start entry (its line numbers count from 0), and clears it.
  void append(RecordStream& other);
  // Drops every entry; the room of one block is kept for the next.
  void clear();

  // Walks the entries in the order they were added. A cursor made with
  // `consume` frees each block once it has walked it (pass 1 walks the
  // stream once; the memory goes back while the outputs are written).
  class Cursor {
   public:
    explicit Cursor(RecordStream& stream, bool consume = false) : stream_(stream), consume_(consume) {}
    // Fills `entry` with the next entry; false after the last. Throws
    // RecordSpillError when a block cannot be read back.
    bool next(RecordEntry& entry);

   private:
    void load_block();
    RecordStream& stream_;
    bool consume_ = false;
    std::size_t block_ = 0, pos_ = 0;
    const u8* data_ = nullptr;       // the block walked, or none yet
    std::unique_ptr<u8[]> buffer_;   // a block read back from the file
    int line_ = 0;
  };

 private:
  // Room one entry may need: a line holds at most 1023 characters, so at
  // most 512 numbers of at most five bytes each.
  static constexpr std::size_t kMaxEntry = 4096;
  static_assert(kSmallBlockSize > kMaxEntry + 1);

  // Starts an entry of `kind`, in a new block when this one lacks room,
  // and gives where its bytes go; end_entry takes where they stopped and
  // marks where the entries stop.
  u8* begin_entry(RecordKind kind);
  void start_block();
  void spill_blocks();
  void end_entry(u8* p);
  static u8* put_number(u8* p, u32 value);
  u8* put_line(u8* p, int line);
  u8* block() { return blocks_.back().get(); }

  std::size_t block_size_;
  std::vector<std::unique_ptr<u8[]>> blocks_;  // none for a block in the file
  std::vector<std::size_t> block_used_;  // bytes used in each block before the last
  std::vector<u64> block_offset_;        // where each block before the last is in the file
  std::size_t used_;                     // in the last block; block_size_ before the first
  int last_line_ = 0;

  std::size_t spill_after_ = static_cast<std::size_t>(-1);
  std::size_t held_ = 0;     // bytes used in finished blocks still in memory
  std::size_t spilled_ = 0;  // the blocks [0, spilled_) are in the file
  bool spill_tried_ = false;
  std::unique_ptr<SpillFile> spill_;
  std::unique_ptr<u8[]> spare_;  // a block written out, for the next block
};

}  // namespace zeld
