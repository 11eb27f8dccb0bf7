// Packing and walking the parsed records of pass 1; see record_stream.h.
//
//   kind byte, then per kind:
//   kFileStart   file index            kFileEnd   line count
//   kModule      module index
//   kFormat      flag bits             kHeader, kArea   nothing
//   kText        line delta, status byte (bit 7: values all below 256, one
//                byte each), count, values
//   kRelocation, kPaging
//                line delta, flag bits, area index numbers, item count,
//                then mode, position and two index numbers per item
//
// A block ends with kEndOfBlock; an entry never spans two blocks. A block
// goes to the temporary file whole, end mark included, and comes back
// into one buffer of the cursor.
#include "record_stream.h"

#include <cerrno>
#include <cstring>

#include "spill_file.h"

namespace zeld {

namespace {
constexpr u8 kRawBytes = 0x80;
constexpr u8 kZeroPairOk = 0x01;
constexpr u8 kStoppedAtNonNumber = 0x02;
}  // namespace

RecordStream::RecordStream(std::size_t block_size) : block_size_(block_size), used_(block_size) {}
RecordStream::RecordStream(RecordStream&&) noexcept = default;
RecordStream& RecordStream::operator=(RecordStream&&) noexcept = default;
RecordStream::~RecordStream() = default;

// A block left behind already ends with the end mark of its last entry.
void RecordStream::start_block() {
  if (!blocks_.empty()) {
    block_used_.push_back(used_);
    block_offset_.push_back(0);
    held_ += used_;
    if (held_ > spill_after_) spill_blocks();
  }
  blocks_.push_back(spare_ ? std::move(spare_) : std::make_unique_for_overwrite<u8[]>(block_size_));
  used_ = 0;
}

// Writes every finished block still in memory to the file; the last one
// written is kept to be filled again. Past a failure nothing more is
// written, and what was written stays readable.
void RecordStream::spill_blocks() {
  if (!spill_tried_) {
    spill_tried_ = true;
    spill_ = SpillFile::open();
  }
  for (; spill_ && spilled_ < block_used_.size(); ++spilled_) {
    std::size_t bytes = block_used_[spilled_] + 1;
    if (!spill_->append(blocks_[spilled_].get(), bytes, block_offset_[spilled_])) break;
    held_ -= block_used_[spilled_];
    spare_ = std::move(blocks_[spilled_]);
  }
  // From now on every finished block follows, unless writing failed.
  spill_after_ = spilled_ < block_used_.size() ? static_cast<std::size_t>(-1) : 0;
}

// An entry is written through a local pointer: a store through a byte
// pointer may alias any member, so the members are read once, before, and
// written once, after.
u8* RecordStream::begin_entry(RecordKind kind) {
  if (block_size_ - used_ < kMaxEntry + 1) start_block();
  u8* p = block() + used_;
  *p++ = static_cast<u8>(kind);
  return p;
}

void RecordStream::end_entry(u8* p) {
  used_ = static_cast<std::size_t>(p - block());
  *p = static_cast<u8>(RecordKind::kEndOfBlock);
}

void RecordStream::append(RecordStream& other) {
  for (std::size_t i = 0; i < other.blocks_.size(); ++i) {
    std::size_t used = i < other.block_used_.size() ? other.block_used_[i] : other.used_;
    if (used == 0) continue;
    if (block_size_ - used_ < used + 1) start_block();
    // Whole entries and the end mark after them.
    std::memcpy(block() + used_, other.blocks_[i].get(), used + 1);
    used_ += used;
  }
  last_line_ = other.last_line_;
  other.clear();
}

void RecordStream::clear() {
  if (!spare_ && !blocks_.empty() && blocks_.back()) spare_ = std::move(blocks_.back());
  blocks_.clear();
  block_used_.clear();
  block_offset_.clear();
  used_ = block_size_;
  last_line_ = 0;
  held_ = 0;
  spilled_ = 0;
  spill_tried_ = false;
  spill_.reset();
}

u8* RecordStream::put_number(u8* p, u32 value) {
  while (value >= 0x80) {
    *p++ = static_cast<u8>(value | 0x80);
    value >>= 7;
  }
  *p++ = static_cast<u8>(value);
  return p;
}

u8* RecordStream::put_line(u8* p, int line) {
  p = put_number(p, static_cast<u32>(line - last_line_));
  last_line_ = line;
  return p;
}

void RecordStream::add_file_start(u32 file_index) {
  u8* p = begin_entry(RecordKind::kFileStart);
  p = put_number(p, file_index);
  last_line_ = 0;
  end_entry(p);
}

void RecordStream::add_file_end(int lines) {
  u8* p = begin_entry(RecordKind::kFileEnd);
  end_entry(put_number(p, static_cast<u32>(lines)));
}

void RecordStream::add_event(RecordKind kind) { end_entry(begin_entry(kind)); }

void RecordStream::add_module(u32 index) {
  u8* p = begin_entry(RecordKind::kModule);
  end_entry(put_number(p, index));
}

void RecordStream::add_format(bool high_byte_first, bool xgate) {
  u8* p = begin_entry(RecordKind::kFormat);
  *p++ = static_cast<u8>((high_byte_first ? 1 : 0) | (xgate ? 2 : 0));
  end_entry(p);
}

void RecordStream::add_text(int line, const TextLine& text) {
  u8* p = begin_entry(RecordKind::kText);
  p = put_line(p, line);
  const int count = text.count;
  u32 all = 0;
  for (int i = 0; i < count; ++i) all |= text.values[i];
  const bool raw = all <= 0xFF;
  *p++ = static_cast<u8>(text.status | (raw ? kRawBytes : 0));
  *p++ = static_cast<u8>(count);
  if (raw) {
    for (int i = 0; i < count; ++i) *p++ = static_cast<u8>(text.values[i]);
  } else {
    for (int i = 0; i < count; ++i) p = put_number(p, text.values[i]);
  }
  end_entry(p);
}

void RecordStream::add_fields(RecordKind kind, int line, const FieldLine& fields) {
  u8* p = begin_entry(kind);
  p = put_line(p, line);
  *p++ = static_cast<u8>((fields.zero_pair_ok ? kZeroPairOk : 0) | (fields.stopped_at_non_number ? kStoppedAtNonNumber : 0));
  p = put_number(p, fields.area_b1);
  p = put_number(p, fields.area_b2);
  p = put_number(p, static_cast<u32>(fields.items.size()));
  for (const FieldItem& item : fields.items) {
    p = put_number(p, item.mode);
    p = put_number(p, item.position);
    p = put_number(p, item.index_b1);
    p = put_number(p, item.index_b2);
  }
  end_entry(p);
}

void RecordStream::Cursor::load_block() {
  if (const auto& block = stream_.blocks_[block_]) {
    data_ = block.get();
    return;
  }
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<u8[]>(stream_.block_size_);
  errno = 0;
  const std::size_t bytes = stream_.block_used_[block_] + 1;
  if (!stream_.spill_ || !stream_.spill_->read(stream_.block_offset_[block_], buffer_.get(), bytes))
    throw RecordSpillError{errno};
  data_ = buffer_.get();
}

namespace {

// A number at `p`, which moves past it.
inline u32 read_number(const u8*& p) {
  u32 value = 0;
  for (int shift = 0;; shift += 7) {
    const u8 byte = *p++;
    value |= static_cast<u32>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return value;
  }
}

}  // namespace

// An entry is read through a local pointer, like it is written: the
// stores into `entry` would otherwise make the place be read and written
// back around each of them.
bool RecordStream::Cursor::next(RecordEntry& entry) {
  for (;;) {
    if (!data_) {
      if (block_ >= stream_.blocks_.size()) {
        // A consuming walk is the last: the file goes with its blocks.
        if (consume_) {
          stream_.spill_.reset();
          stream_.spare_.reset();
          buffer_.reset();
        }
        return false;
      }
      load_block();
    }
    const u8* p = data_ + pos_;
    auto kind = static_cast<RecordKind>(*p++);
    if (kind == RecordKind::kEndOfBlock) {
      if (consume_) stream_.blocks_[block_].reset();
      ++block_;
      pos_ = 0;
      data_ = nullptr;
      continue;
    }
    entry.kind = kind;
    switch (kind) {
      case RecordKind::kModule:
        entry.number = read_number(p);
        break;
      case RecordKind::kFileStart:
        entry.number = read_number(p);
        line_ = 0;
        entry.line = 0;
        break;
      case RecordKind::kFileEnd:
        entry.number = read_number(p);
        entry.line = static_cast<int>(entry.number);
        break;
      case RecordKind::kFormat:
        entry.number = *p++;
        break;
      case RecordKind::kText: {
        line_ += static_cast<int>(read_number(p));
        entry.line = line_;
        const u8 status = *p++;
        const int count = *p++;
        TextLine& t = entry.text;
        t.status = static_cast<TextLine::Status>(status & ~kRawBytes);
        t.count = count;
        if ((status & kRawBytes) != 0) {
          for (int i = 0; i < count; ++i) t.values[i] = p[i];
          p += count;
        } else {
          for (int i = 0; i < count; ++i) t.values[i] = read_number(p);
        }
        break;
      }
      case RecordKind::kRelocation:
      case RecordKind::kPaging: {
        line_ += static_cast<int>(read_number(p));
        entry.line = line_;
        const u8 flags = *p++;
        FieldLine& f = entry.fields;
        f.zero_pair_ok = (flags & kZeroPairOk) != 0;
        f.stopped_at_non_number = (flags & kStoppedAtNonNumber) != 0;
        f.area_b1 = read_number(p);
        f.area_b2 = read_number(p);
        f.items.resize(read_number(p));
        for (FieldItem& item : f.items) {
          item.mode = read_number(p);
          item.position = read_number(p);
          item.index_b1 = read_number(p);
          item.index_b2 = read_number(p);
        }
        break;
      }
      default:  // kHeader, kArea
        break;
    }
    pos_ = static_cast<std::size_t>(p - data_);
    return true;
  }
}

}  // namespace zeld
