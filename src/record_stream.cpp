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
// A block ends with kEndOfBlock; an entry never spans two blocks.
#include "record_stream.h"

#include <cstring>

namespace zeld {

namespace {
constexpr u8 kRawBytes = 0x80;
constexpr u8 kZeroPairOk = 0x01;
constexpr u8 kStoppedAtNonNumber = 0x02;
}  // namespace

// A block left behind already ends with the end mark of its last entry.
void RecordStream::start_block() {
  if (!blocks_.empty()) block_used_.push_back(used_);
  blocks_.push_back(std::make_unique_for_overwrite<u8[]>(block_size_));
  used_ = 0;
}

void RecordStream::begin_entry(RecordKind kind) {
  if (block_size_ - used_ < kMaxEntry + 1) start_block();
  put(static_cast<u8>(kind));
}

void RecordStream::append(RecordStream&& other) {
  for (std::size_t i = 0; i < other.blocks_.size(); ++i) {
    std::size_t used = i < other.block_used_.size() ? other.block_used_[i] : other.used_;
    if (used == 0) continue;
    if (block_size_ - used_ < used + 1) start_block();
    // Whole entries and the end mark after them.
    std::memcpy(block() + used_, other.blocks_[i].get(), used + 1);
    used_ += used;
  }
  last_line_ = other.last_line_;
  other = RecordStream(other.block_size_);
}

void RecordStream::end_entry() { block()[used_] = static_cast<u8>(RecordKind::kEndOfBlock); }

void RecordStream::put_number(u32 value) {
  while (value >= 0x80) {
    put(static_cast<u8>(value | 0x80));
    value >>= 7;
  }
  put(static_cast<u8>(value));
}

void RecordStream::put_line(int line) {
  put_number(static_cast<u32>(line - last_line_));
  last_line_ = line;
}

void RecordStream::add_file_start(u32 file_index) {
  begin_entry(RecordKind::kFileStart);
  put_number(file_index);
  last_line_ = 0;
  end_entry();
}

void RecordStream::add_file_end(int lines) {
  begin_entry(RecordKind::kFileEnd);
  put_number(static_cast<u32>(lines));
  end_entry();
}

void RecordStream::add_event(RecordKind kind) {
  begin_entry(kind);
  end_entry();
}

void RecordStream::add_module(u32 index) {
  begin_entry(RecordKind::kModule);
  put_number(index);
  end_entry();
}

void RecordStream::add_format(bool high_byte_first, bool xgate) {
  begin_entry(RecordKind::kFormat);
  put(static_cast<u8>((high_byte_first ? 1 : 0) | (xgate ? 2 : 0)));
  end_entry();
}

void RecordStream::add_text(int line, const TextLine& text) {
  begin_entry(RecordKind::kText);
  put_line(line);
  bool raw = true;
  for (int i = 0; i < text.count; ++i)
    if (text.values[i] > 0xFF) raw = false;
  put(static_cast<u8>(text.status | (raw ? kRawBytes : 0)));
  put(static_cast<u8>(text.count));
  for (int i = 0; i < text.count; ++i) {
    if (raw)
      put(static_cast<u8>(text.values[i]));
    else
      put_number(text.values[i]);
  }
  end_entry();
}

void RecordStream::add_fields(RecordKind kind, int line, const FieldLine& fields) {
  begin_entry(kind);
  put_line(line);
  put(static_cast<u8>((fields.zero_pair_ok ? kZeroPairOk : 0) |
                      (fields.stopped_at_non_number ? kStoppedAtNonNumber : 0)));
  put_number(fields.area_b1);
  put_number(fields.area_b2);
  put_number(static_cast<u32>(fields.items.size()));
  for (const FieldItem& item : fields.items) {
    put_number(item.mode);
    put_number(item.position);
    put_number(item.index_b1);
    put_number(item.index_b2);
  }
  end_entry();
}

u32 RecordStream::Cursor::number() {
  const u8* p = stream_.blocks_[block_].get();
  u32 value = 0;
  for (int shift = 0;; shift += 7) {
    u8 byte = p[pos_++];
    value |= static_cast<u32>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return value;
  }
}

bool RecordStream::Cursor::next(RecordEntry& entry) {
  for (;;) {
    if (block_ >= stream_.blocks_.size()) return false;
    const u8* p = stream_.blocks_[block_].get();
    auto kind = static_cast<RecordKind>(p[pos_]);
    if (kind == RecordKind::kEndOfBlock) {
      if (consume_) stream_.blocks_[block_].reset();
      ++block_;
      pos_ = 0;
      continue;
    }
    ++pos_;
    entry.kind = kind;
    switch (kind) {
      case RecordKind::kModule:
        entry.number = number();
        return true;
      case RecordKind::kFileStart:
        entry.number = number();
        line_ = 0;
        entry.line = 0;
        return true;
      case RecordKind::kFileEnd:
        entry.number = number();
        entry.line = static_cast<int>(entry.number);
        return true;
      case RecordKind::kFormat:
        entry.number = p[pos_++];
        return true;
      case RecordKind::kText: {
        line_ += static_cast<int>(number());
        entry.line = line_;
        u8 status = p[pos_++];
        bool raw = (status & kRawBytes) != 0;
        TextLine& t = entry.text;
        t.status = static_cast<TextLine::Status>(status & ~kRawBytes);
        t.count = p[pos_++];
        for (int i = 0; i < t.count; ++i) t.values[i] = raw ? p[pos_++] : number();
        return true;
      }
      case RecordKind::kRelocation:
      case RecordKind::kPaging: {
        line_ += static_cast<int>(number());
        entry.line = line_;
        u8 flags = p[pos_++];
        FieldLine& f = entry.fields;
        f.zero_pair_ok = (flags & kZeroPairOk) != 0;
        f.stopped_at_non_number = (flags & kStoppedAtNonNumber) != 0;
        f.area_b1 = number();
        f.area_b2 = number();
        f.items.resize(number());
        for (FieldItem& item : f.items) {
          item.mode = number();
          item.position = number();
          item.index_b1 = number();
          item.index_b2 = number();
        }
        return true;
      }
      default:  // kHeader, kArea
        return true;
    }
  }
}

}  // namespace zeld
