// Hash indexes from names to values for the link's large tables: open
// addressing over one array of slots, at most 5/8 full, so that a lookup
// usually touches one or two slots and compares a name only when the hash
// matches. Growing moves slots by their stored hash and never reads a name.
//
// NameIndex (the library index) keeps {name, hash, value} slots; its names
// are views whose text must outlive the index. NumberIndex (the symbol
// table) keeps 8-byte {hash, number} slots for a store that numbers its
// entries and keeps their names: a lookup asks the store for the name of a
// number whose hash matches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace zeld {

// The low 31 bits of the library's string hash, and the top bit set, so
// that no hash is 0 (the empty slot); the mask of a table below 2^31 slots
// (far beyond any link's names) never reaches that bit.
inline std::uint32_t name_hash(std::string_view name) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name)) | 0x80000000u;
}

namespace name_index_detail {

// Doubles the slots (64 at first) and moves every filled one (hash not 0)
// to its place by its hash.
template <class Slot>
void grow(std::vector<Slot>& slots) {
  std::vector<Slot> old = std::move(slots);
  slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
  const std::size_t mask = slots.size() - 1;
  for (const Slot& s : old) {
    if (s.hash == 0) continue;
    std::size_t i = s.hash & mask;
    while (slots[i].hash != 0) i = (i + 1) & mask;
    slots[i] = s;
  }
}

}  // namespace name_index_detail

template <class Value>
class NameIndex {
 public:
  // The value of `name`, or nullptr.
  const Value* find(std::string_view name) const {
    if (slots_.empty() || name.size() > kMaxName) return nullptr;
    const u32 hash = name_hash(name);
    for (std::size_t i = hash & mask(); slots_[i].hash != kEmpty; i = (i + 1) & mask())
      if (slots_[i].hash == hash && slots_[i].name() == name) return &slots_[i].value;
    return nullptr;
  }
  bool contains(std::string_view name) const { return find(name) != nullptr; }

  // Enters `name` unless present; false (and the old value kept) when it
  // was. Names longer than 4 GB are not entered.
  bool insert(std::string_view name, const Value& value) {
    if (name.size() > kMaxName) return false;
    if ((size_ + 1) * 8 > slots_.size() * 5) grow();
    const u32 hash = name_hash(name);
    std::size_t i = hash & mask();
    for (; slots_[i].hash != kEmpty; i = (i + 1) & mask())
      if (slots_[i].hash == hash && slots_[i].name() == name) return false;
    slots_[i] = Slot{name.data(), static_cast<u32>(name.size()), hash, value};
    ++size_;
    return true;
  }

  std::size_t size() const { return size_; }

 private:
  using u32 = std::uint32_t;
  static constexpr u32 kEmpty = 0;
  static constexpr std::size_t kMaxName = 0xFFFFFFFF;

  struct Slot {
    const char* data = nullptr;
    u32 size = 0;
    u32 hash = kEmpty;
    Value value{};
    std::string_view name() const { return {data, size}; }
  };

  std::size_t mask() const { return slots_.size() - 1; }
  void grow() { name_index_detail::grow(slots_); }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

// Numbers by name for a store that keeps the names itself. The caller
// hashes a name once (name_hash) and hands the hash to both calls.
class NumberIndex {
 public:
  using u32 = std::uint32_t;
  static constexpr u32 kAbsent = 0xFFFFFFFF;

  // The number whose name (`name_of(number)`) is `name`, or kAbsent.
  template <class NameOf>
  u32 find(std::string_view name, u32 hash, NameOf&& name_of) const {
    if (slots_.empty()) return kAbsent;
    for (std::size_t i = hash & mask(); slots_[i].hash != kEmpty; i = (i + 1) & mask())
      if (slots_[i].hash == hash && name_of(slots_[i].number) == name) return slots_[i].number;
    return kAbsent;
  }

  // Asks the processor for the slot where a search for `hash` begins.
  void prefetch(u32 hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[hash & mask()]);
  }
  // Calls `touch(number)` for every number a search for `hash` would
  // compare by name, so that their records can be asked for ahead.
  template <class Touch>
  void for_each_candidate(u32 hash, Touch&& touch) const {
    if (slots_.empty()) return;
    for (std::size_t i = hash & mask(); slots_[i].hash != kEmpty; i = (i + 1) & mask())
      if (slots_[i].hash == hash) touch(slots_[i].number);
  }

  // Enters a number whose name the caller knows to be absent.
  void insert_absent(u32 hash, u32 number) {
    if ((size_ + 1) * 8 > slots_.size() * 5) grow();
    std::size_t i = hash & mask();
    while (slots_[i].hash != kEmpty) i = (i + 1) & mask();
    slots_[i] = Slot{hash, number};
    ++size_;
  }

  std::size_t size() const { return size_; }

 private:
  static constexpr u32 kEmpty = 0;

  struct Slot {
    u32 hash = kEmpty;
    u32 number = 0;
  };
  static_assert(sizeof(Slot) == 8);

  std::size_t mask() const { return slots_.size() - 1; }
  void grow() { name_index_detail::grow(slots_); }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

}  // namespace zeld
