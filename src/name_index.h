// A hash index from names to values for the link's large tables (the
// symbol table, the library index): open addressing over one array of
// {name, hash, value} slots, at most 5/8 full, so that a lookup usually
// touches one or two slots and compares a name only when the hash matches.
// Growing moves slots by their stored hash and never reads a name. The
// names are views: their text must outlive the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace zeld {

template <class Value>
class NameIndex {
 public:
  // The value of `name`, or nullptr.
  const Value* find(std::string_view name) const {
    if (slots_.empty() || name.size() > kMaxName) return nullptr;
    const u32 hash = hash_of(name);
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
    const u32 hash = hash_of(name);
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
  static constexpr u32 kEmpty = 0;  // no hash is 0: hash_of sets the top bit
  static constexpr std::size_t kMaxName = 0xFFFFFFFF;

  struct Slot {
    const char* data = nullptr;
    u32 size = 0;
    u32 hash = kEmpty;
    Value value{};
    std::string_view name() const { return {data, size}; }
  };

  // The low 31 bits of the library's string hash, and the top bit set; the
  // mask of a table below 2^31 slots (far beyond any link's names) never
  // reaches that bit.
  static u32 hash_of(std::string_view name) {
    return static_cast<u32>(std::hash<std::string_view>{}(name)) | 0x80000000u;
  }
  std::size_t mask() const { return slots_.size() - 1; }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    for (const Slot& s : old) {
      if (s.hash == kEmpty) continue;
      std::size_t i = s.hash & mask();
      while (slots_[i].hash != kEmpty) i = (i + 1) & mask();
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

}  // namespace zeld
