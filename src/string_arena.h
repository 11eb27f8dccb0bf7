// Names kept for the length of a link without one allocation each: the
// arena copies each text into large chunks it owns and hands back a view
// that stays valid as long as the arena, however many texts follow.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace zeld {

class StringArena {
 public:
  std::string_view keep(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > room_) {
      std::size_t size = std::max(kChunkSize, text.size());
      chunks_.push_back(std::make_unique_for_overwrite<char[]>(size));
      next_ = chunks_.back().get();
      room_ = size;
    }
    char* at = next_;
    std::memcpy(at, text.data(), text.size());
    next_ += text.size();
    room_ -= text.size();
    return {at, text.size()};
  }

 private:
  static constexpr std::size_t kChunkSize = std::size_t{64} << 10;
  std::vector<std::unique_ptr<char[]>> chunks_;
  char* next_ = nullptr;
  std::size_t room_ = 0;
};

}  // namespace zeld
